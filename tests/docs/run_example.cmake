# Runs one program of the documentation in a fresh working directory and
# checks its exit code and, when the page shows it, its standard output. With
# CHANNEL_REG it runs the program again with the debug channel sent to a file:
# under Wine by importing that .reg file into the prefix, natively by the
# environment variables; the file must then hold what standard error got.
#
#   cmake -DPROGRAM=exe -DWORK=dir [-DEMULATOR=wine-run.sh] [-DEXPECTED=file]
#         [-DCHANNEL_REG=channel-file.reg] -P run_example.cmake
#   cmake -DINTERPRETER=python3 -DPROGRAM=script.py -DARGUMENT=libtrovex.so -DWORK=dir
#         [-DEXPECTED=file] -P run_example.cmake

function(run_program out err)
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  set(interpreter "")
  if(INTERPRETER)
    set(interpreter ${INTERPRETER} -X utf8)  # standard output in UTF-8, as the pages are
  endif()
  execute_process(COMMAND ${ARGN} ${EMULATOR} ${interpreter} ${PROGRAM} ${ARGUMENT} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ended with ${rc}\n${stdout}\n${stderr}")
  endif()
  string(REPLACE "\r\n" "\n" stdout "${stdout}")
  set(${out} "${stdout}" PARENT_SCOPE)
  set(${err} "${stderr}" PARENT_SCOPE)
endfunction()

run_program(stdout stderr)
if(EXPECTED)
  file(READ ${EXPECTED} expected)
  if(NOT stdout STREQUAL expected)
    file(WRITE ${WORK}.got "${stdout}")
    message(FATAL_ERROR "${PROGRAM}: the output differs from the page's; see\n  diff ${EXPECTED} ${WORK}.got")
  endif()
endif()

if(CHANNEL_REG)
  if(EMULATOR)
    # The file the .reg names, in a folder that the prefix has from the start.
    file(STRINGS ${CHANNEL_REG} pathLine REGEX "^\"path\"=")
    string(REGEX REPLACE "^\"path\"=\"[Cc]:(.*)\"$" "\\1" channelFile "${pathLine}")
    string(REPLACE "\\\\" "/" channelFile "${channelFile}")
    set(channelFile $ENV{WINEPREFIX}/drive_c${channelFile})
    file(REMOVE ${channelFile})
    execute_process(COMMAND ${EMULATOR} reg import ${CHANNEL_REG} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "reg import ${CHANNEL_REG} failed: ${rc}")
    endif()
    run_program(ignored channelStderr)
    execute_process(COMMAND ${EMULATOR} reg delete "HKCU\\qz\\kprintf" /f OUTPUT_QUIET ERROR_QUIET)
  else()
    set(channelFile ${WORK}-channel.txt)
    file(REMOVE ${channelFile})
    run_program(ignored channelStderr ${CMAKE_COMMAND} -E env TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=2
                TROVEX_CHANNEL_PATH=${channelFile})
  endif()
  if(EXISTS ${channelFile})
    file(READ ${channelFile} channel)
  else()
    set(channel "<missing>")
  endif()
  if(stderr STREQUAL "" OR NOT channel STREQUAL stderr OR NOT channelStderr STREQUAL "")
    message(FATAL_ERROR "the debug channel did not move to ${channelFile}\n--- standard error before:\n"
                        "${stderr}--- the file:\n${channel}--- standard error after:\n${channelStderr}")
  endif()
endif()
