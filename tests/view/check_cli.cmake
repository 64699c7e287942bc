# trovex-view from outside: help, usage errors and exit codes, a missing file
# or device, standard input, colour switches, --stats.
#
#   cmake -DVIEW=exe -DWORK=dir [-DEMULATOR=wine-run.sh] -P check_cli.cmake
string(ASCII 27 esc)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(protocol "${WORK}/protocol.txt")
file(WRITE "${protocol}" "\nwarn<NET>: retry\nerror<IO>: ${esc}[1mfailed${esc}[0m\n  continued\ninit<DEBUG>: x\n")
set(garbage "${WORK}/garbage.bin")
string(RANDOM LENGTH 4000 ALPHABET "\t\r\n\f!<>:abc" text)
file(WRITE "${garbage}" "${text}")
set(programPath "")
if(EMULATOR)
  set(programPath "Z:")
endif()

# run(name expectedCode outputRegex errorRegex [env...] -- args...)
function(run name code outRegex errRegex)
  cmake_parse_arguments(RUN "" "INPUT" "ENV;ARGS" ${ARGN})
  set(input "")
  if(RUN_INPUT)
    set(input INPUT_FILE ${RUN_INPUT})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${RUN_ENV} ${EMULATOR} ${VIEW} ${RUN_ARGS}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err ${input})
  if(NOT rc EQUAL code)
    message(SEND_ERROR "${name}: exit code ${rc}, expected ${code}\n${out}\n${err}")
  endif()
  if(NOT out MATCHES "${outRegex}")
    message(SEND_ERROR "${name}: output does not match ${outRegex}:\n${out}")
  endif()
  if(NOT err MATCHES "${errRegex}")
    message(SEND_ERROR "${name}: error output does not match ${errRegex}:\n${err}")
  endif()
endfunction()

run(help 0 "Examples:.*--follow.*Exit status" "^$" ARGS --help)
run(no_source 2 "" "give a file" ARGS)
run(two_sources 2 "" "give a file" ARGS x --serial y)
run(bad_color 2 "" "--color" ARGS --color=sometimes x)
run(follow_stdin 2 "" "--follow needs a file" ARGS -f -)
run(missing_file 1 "^$" "cannot open .*missing.txt" ARGS "${programPath}${WORK}/missing.txt")
run(missing_port 1 "^$" "cannot open serial port .*nodevice" ARGS --serial "${programPath}${WORK}/nodevice")
run(directory 1 "^$" "cannot open .*: is a directory" ARGS "${programPath}${WORK}")

# Not a terminal: no colour, escape sequences kept out; with NO_COLOR,
# always still colours.
run(plain 0 "^\nwarn<NET>: retry\nerror<IO>: failed\n  continued\ninit<DEBUG>: x\n$" "^$"
    ARGS "${programPath}${protocol}")
run(always 0 "${esc}\\[31merror<IO>: ${esc}\\[1mfailed${esc}\\[0m${esc}\\[0m\n${esc}\\[31m  continued" "^$"
    ENV NO_COLOR=1 ARGS --color=always "${programPath}${protocol}")
run(filtered 0 "^\nwarn<NET>: retry\nmessages by category:.*1  warn.*2  messages hidden by the filter\n$" "^$"
    ARGS --no-errors -x "d*g" --stats "${programPath}${protocol}")
run(stdin 0 "^\ninit<DEBUG>: x\n$" "^$" INPUT "${protocol}" ARGS --include "?EBUG" -)
run(garbage 0 "" "^$" ARGS "${programPath}${garbage}")
string(REPEAT "a" 2048 long)
run(long_list 2 "" "--include list has 2048 characters" ARGS --include "${long}" "${programPath}${protocol}")
