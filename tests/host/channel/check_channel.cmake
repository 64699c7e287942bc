# The debug channel seen from outside: runs channel_scenario once per
# configuration, each in a fresh process (the channel reads its configuration
# once per process), and compares what arrived on each target byte for byte.
# Under Wine the serial port COM2 is a pseudo-terminal whose other side is read.
#
#   cmake -DSCENARIO=exe -DWORK=dir [-DEMULATOR=wine-run.sh -DRELAY_SOURCE=pty_relay.c] -P check_channel.cmake
string(ASCII 27 esc)
set(failures 0)

# The text of one load of the library: two messages, the first header after an open line.
function(expected_text out escapes)
  set(text "")
  foreach(round 0 1)
    if(escapes)
      string(APPEND text "\nwarn<ID>: hello ${round}\nerror<ID>: ${esc}[31mred${esc}[0m\n")
    else()
      string(APPEND text "\nwarn<ID>: hello ${round}\nerror<ID>: red\n")
    endif()
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
expected_text(filtered OFF)
expected_text(raw ON)

function(check name file expected)
  if(EXISTS "${file}")
    file(READ "${file}" got)
  else()
    set(got "<missing>")
  endif()
  if(NOT got STREQUAL expected)
    string(HEX "${got}" gotHex)
    string(HEX "${expected}" expectedHex)
    message(SEND_ERROR "${name}: ${file}\n  got      ${gotHex}\n  expected ${expectedHex}")
  endif()
endfunction()

# A Windows program gets the Windows form of the scratch paths.
function(program_path out path)
  if(EMULATOR)
    set(${out} "Z:${path}" PARENT_SCOPE)
  else()
    set(${out} "${path}" PARENT_SCOPE)
  endif()
endfunction()

function(run_scenario name use type file)
  set(dir "${WORK}/${name}")
  file(REMOVE_RECURSE "${dir}")
  file(MAKE_DIRECTORY "${dir}")
  program_path(outDir "${dir}")
  set(pathArgument -)
  if(file)
    program_path(pathArgument "${dir}/${file}")
  endif()
  execute_process(COMMAND ${ARGN} ${EMULATOR} ${SCENARIO} ${outDir} ${use} ${type} ${pathArgument}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(SEND_ERROR "${name}: the scenario ended with ${rc} (5: the file stayed locked after unloading)")
  endif()
endfunction()

run_scenario(file 1 2 channel.txt)
check(file "${WORK}/file/channel.txt" "${filtered}")
check(file "${WORK}/file/stderr.txt" "")

run_scenario(file-and-stderr 1 3 channel.txt)
check(file-and-stderr "${WORK}/file-and-stderr/channel.txt" "${filtered}")
check(file-and-stderr "${WORK}/file-and-stderr/stderr.txt" "${raw}")

run_scenario(stderr 0 2 "")
check(stderr "${WORK}/stderr/channel.txt" "<missing>")
check(stderr "${WORK}/stderr/stderr.txt" "${raw}")

if(EMULATOR)
  # COM2 of the Wine prefix is linked to a pseudo-terminal for the run.
  execute_process(COMMAND cc -O -o "${WORK}/pty_relay" "${RELAY_SOURCE}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot build the pseudo-terminal relay")
  endif()
  run_scenario(serial 1 0 "" "${WORK}/pty_relay" "$ENV{WINEPREFIX}/dosdevices/com2" "${WORK}/serial/port.bin")
  check(serial "${WORK}/serial/port.bin" "${filtered}")
  check(serial "${WORK}/serial/stderr.txt" "")
endif()
