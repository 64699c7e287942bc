# Runs PROGRAM RUNS times (with ARGUMENT) and fails at the first run that does
# not exit with 0; a sanitizer's report ends the run with another status.
foreach(run RANGE 1 ${RUNS})
  execute_process(COMMAND ${PROGRAM} ${ARGUMENT} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "run ${run} of ${RUNS} ended with ${status}\n${out}${err}")
  endif()
endforeach()
