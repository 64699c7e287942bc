# trovex-view from outside: help, version, usage errors and exit codes, a
# missing file or device, standard input, colour switches, encodings, --stats
# (also when interrupted), --json read by jq.
#
#   cmake -DVIEW=exe -DWORK=dir -DJQ=jq [-DEMULATOR=wine-run.sh] -P check_cli.cmake
string(ASCII 27 esc)
string(ASCII 228 ae)                  # "ä" in Windows-1252
string(ASCII 195 164 aeUtf8)          # and in UTF-8
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

# run(name expectedCode outputRegex errorRegex [INPUT file] [ENV vars...]
#     [WRAP command...] ARGS args...)
function(run name code outRegex errRegex)
  cmake_parse_arguments(RUN "" "INPUT" "ENV;WRAP;ARGS" ${ARGN})
  set(input "")
  if(RUN_INPUT)
    set(input INPUT_FILE ${RUN_INPUT})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${RUN_ENV} ${RUN_WRAP} ${EMULATOR} ${VIEW} ${RUN_ARGS}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err ${input} TIMEOUT 60)
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

run(help 0 "--source.*--time.*Examples:.*--follow.*--listen.*--forward.*Exit status" "^$" ARGS --help)
run(version 0 "^trovex-view [0-9]+\\.[0-9]+\\.[0-9]+\r?\n$" "^$" ARGS --version)
run(pid_without_listen 2 "" "^trovex-view: --pid requires --listen" ARGS --pid 7 x)
run(listen_and_file 2 "" "^trovex-view: give a file" ARGS --listen pipe x)
run(bad_pipe_name 1 "^$" "cannot listen on .*a/b" ARGS --listen "a/b\\c")
# The pipe alone: its failure ends the viewer, with no debug output taken instead.
run(bad_pipe_name_alone 1 "^$" "^trovex-view: cannot listen on [^\n]*a/b[^\n]*\n$" ARGS --listen "a/b\\c" --source pipe)
run(no_source 2 "" "^trovex-view: give a file" ARGS)
run(two_sources 2 "" "^trovex-view: give a file" ARGS x --serial y)
run(bad_color 2 "" "^trovex-view: .*--color" ARGS --color=sometimes x)
run(follow_stdin 2 "" "^trovex-view: --follow needs a file" ARGS -f -)
run(unknown_option 2 "" "^trovex-view: .*--bogus" ARGS --bogus x)
run(json_stats 2 "" "^trovex-view: .*excludes" ARGS --json --stats x)
run(bad_forward 2 "" "^trovex-view: --forward takes syslog\\+tcp://" ARGS --forward http://host x)
run(bad_forward_port 2 "" "^trovex-view: --forward: .* names no HOST" ARGS --forward syslog+udp://host:70000 x)
run(facility_without_forward 2 "" "^trovex-view: --facility requires --forward" ARGS --facility local0 x)
run(bad_facility 2 "" "^trovex-view: --facility: unknown facility nine" ARGS --forward syslog+udp://host --facility nine x)
run(bad_encoding 2 "" "^trovex-view: unknown encoding no-such" ARGS --encoding=no-such x)
run(missing_file 1 "^$" "cannot open .*missing.txt" ARGS "${programPath}${WORK}/missing.txt")
run(missing_port 1 "^$" "cannot open serial port .*nodevice" ARGS --serial "${programPath}${WORK}/nodevice")
run(directory 1 "^$" "cannot open .*: is a directory" ARGS "${programPath}${WORK}")

# Not a terminal: no colour, escape sequences kept out; with NO_COLOR,
# always still colours.
run(plain 0 "^\nwarn<NET>: retry\nerror<IO>: failed\n  continued\ninit<DEBUG>: x\n$" "^$"
    ARGS "${programPath}${protocol}")
run(always 0 "${esc}\\[31merror<IO>: ${esc}\\[1mfailed${esc}\\[0m${esc}\\[0m\n${esc}\\[31m  continued" "^$"
    ENV NO_COLOR=1 ARGS --color=always "${programPath}${protocol}")
# On a terminal: coloured. Under Wine the console takes no escape sequences:
# the colours go as its attributes, which Wine's console turns into the
# terminal's sequences; none reaches the terminal as text.
find_program(SCRIPT script)
if(EMULATOR AND SCRIPT)
  execute_process(COMMAND ${SCRIPT} -qec "${EMULATOR} ${VIEW} ${programPath}${protocol}" /dev/null
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  string(REGEX REPLACE "${esc}\\[\\?25[hl]" "" out "${out}")  # the console's cursor
  if(NOT rc EQUAL 0 OR NOT out MATCHES "${esc}\\[33mwarn<NET>: retry" OR out MATCHES "[^${esc}]\\[[0-9;]*m")
    message(SEND_ERROR "console: the colours are not the console's (${rc}):\n${out}")
  endif()
endif()
run(filtered 0 "^\nwarn<NET>: retry\nmessages by category:.*1  warn.*\nmessages hidden by the filter: 2\n$" "^$"
    ARGS --no-errors -x "d*g" --stats "${programPath}${protocol}")
run(stdin 0 "^\ninit<DEBUG>: x\n$" "^$" INPUT "${protocol}" ARGS --include "?EBUG" -)
# --time: each line of standard input after the time it came; none for a
# file's text, which was there before the viewer (nor in its JSON).
set(clock "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9][0-9][0-9] ")
set(date "[0-9][0-9][0-9][0-9]-[01][0-9]-[0-3][0-9]T")
run(time_stdin 0 "^${clock}\n${clock}warn<NET>: retry\n${clock}error<IO>: failed\n${clock}  continued\n${clock}init<DEBUG>: x\n$"
    "^$" INPUT "${protocol}" ARGS --time -)
string(REPLACE " " "[+-][0-2][0-9]:[0-5][0-9]\",\"text\":\"retry\"" zoned "${date}${clock}")
run(time_stdin_json_zone 0 "^{\"category\":\"warn\",\"id\":\"NET\",\"time\":\"${zoned}" "^$" INPUT "${protocol}" ARGS --json -)
run(time_file 0 "^\nwarn<NET>: retry\n" "^$" ARGS --time "${programPath}${protocol}")
# --time=date: the date, the time and the UTC offset, for output kept across days.
string(REPLACE " " "[+-][0-2][0-9]:[0-5][0-9] " dated "${date}${clock}")
run(time_date 0 "^${dated}\n${dated}warn<NET>: retry\n" "^$" INPUT "${protocol}" ARGS --time=date -)
run(time_bad_form 2 "^$" "--time: its one form is date" ARGS --time=clock -)
run(time_file_json 0 "^{\"category\":\"warn\",\"id\":\"NET\",\"text\":\"retry\"}" "^$" ARGS --json "${programPath}${protocol}")
run(garbage 0 "" "^$" ARGS "${programPath}${garbage}")
string(REPEAT "a" 2048 long)
run(long_list 2 "" "--include list has 2048 characters" ARGS --include "${long}" "${programPath}${protocol}")

# The library's Windows-1252 in the reader's encoding; the filter judges the
# bytes as the library wrote them.
set(german "${WORK}/german.txt")
file(WRITE "${german}" "warn<M${ae}rz>: M${ae}rz\ninit<X>: x\n")
# "?" stands for one byte: the one of Windows-1252, not the two of UTF-8.
run(utf8 0 "^warn<M${aeUtf8}rz>: M${aeUtf8}rz\n$" "^$" ARGS --encoding=UTF-8 -i "m?rz" "${programPath}${german}")
run(raw 0 "^warn<M${ae}rz>: M${ae}rz\n" "^$" ARGS --encoding=raw "${programPath}${german}")
# The identifiers of --stats too.
run(stats_utf8 0 "\n +1  M${aeUtf8}rz\n" "^$" ARGS --encoding=UTF-8 --stats "${programPath}${german}")
if(NOT EMULATOR)
  run(locale_utf8 0 "^warn<M${aeUtf8}rz>: M${aeUtf8}rz\n" "^$" ENV LC_ALL=C.UTF-8 ARGS "${programPath}${german}")
  run(locale_latin9 0 "^warn<M${ae}rz>: M${ae}rz\n" "^$" ARGS --encoding=ISO-8859-15 "${programPath}${german}")
  # Interrupted while following, it still prints the table (the demo stops it so).
  run(interrupted 0 "^\nwarn<NET>: retry\n.*messages by category:.*1  warn" "^$"
      WRAP timeout --preserve-status -s TERM 1 ARGS --follow --stats "${protocol}")
  # A followed file that the library cuts, that is removed and comes back:
  # the cut is counted in the table and the return announced as such, in
  # words and as a JSON record. The viewer follows in the background while
  # the file changes (no ";" in the script: it would split the command).
  set(follow_life [=[
v=$1
f=$2
shift 2
printf 'warn<A>: one\n' > "$f"
"$v" --follow --interval 10 "$@" "$f" &
sleep 0.4
printf -- '--- Trunced at today ---\n\nwarn<A>: two\n' > "$f"
sleep 0.4
rm "$f"
sleep 0.4
printf 'warn<A>: three\n' > "$f"
sleep 0.4
kill -TERM $!
wait $!]=])
  run(follow_cut_back 0 "warn<A>: three\n.*cuts of the file by the library: 1\n"
      "was cut by the library.*was removed.*${WORK}/life.txt is back; reading it from its start\n$"
      WRAP sh -c "${follow_life}" follow ARGS "${WORK}/life.txt" --stats)
  # Lines there at the start have no time; those that come later have one.
  run(follow_back_json 0 "^{\"category\":\"warn\",\"id\":\"A\",\"text\":\"one\"}.*\"event\":\"cut\".*\"event\":\"removed\".*\"event\":\"back\".*\"time\":\"[^\"]+\",\"text\":\"three" "is back"
      WRAP sh -c "${follow_life}" follow ARGS "${WORK}/life.txt" --json)
  # A followed file that does not exist yet is waited for, as tail -F does.
  run(follow_missing 0 "^$" "later.txt does not exist yet; waiting for it\n$"
      WRAP timeout --preserve-status -s TERM 1 ARGS --follow "${WORK}/later.txt")
endif()

# --json through jq: every line is a JSON object; continued lines are joined.
execute_process(COMMAND ${EMULATOR} ${VIEW} --json "${programPath}${protocol}"
                COMMAND ${JQ} -r "[.category, .id, .text] | @tsv"
                RESULTS_VARIABLE codes OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT codes STREQUAL "0;0" OR NOT out STREQUAL "warn\tNET\tretry\nerror\tIO\tfailed\\n  continued\ninit\tDEBUG\tx\n")
  message(SEND_ERROR "json: exit codes ${codes}, output:\n${out}\n${err}")
endif()
