# The documentation's examples are tested programs. A fenced block of
# docs/*.md that opens with "```c program" is a complete C program: it is
# compiled against the library like a host's code (with the project's
# warnings as errors) and run as a test, in its own working directory. A block
# "```text output" right after it is that program's standard output, compared
# byte for byte (line ends aside). "```c program channel" also runs the
# program with the debug channel switched to a file the way docs/channel.md
# shows (the ready .reg file under Wine, the environment natively) and checks
# that the file received what standard error did. "```python program" is a
# Python program that loads the library by the path in its first argument:
# natively it runs against the shared library (not in the sanitizer builds,
# whose runtime a plain Python cannot load).
file(GLOB TROVEX_DOC_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
set(TROVEX_DOC_DIR ${CMAKE_BINARY_DIR}/doc-examples)
set(TROVEX_FENCE "```")
if(NOT WIN32 AND NOT TROVEX_SANITIZE AND NOT TROVEX_TSAN)
  find_program(TROVEX_PYTHON NAMES python3 REQUIRED)
endif()

foreach(page ${TROVEX_DOC_PAGES})
  # An edited page configures the build again, so its examples are extracted anew.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${page})
  file(READ ${page} text)
  get_filename_component(stem ${page} NAME_WE)
  set(offset 0)
  set(number 0)
  while(TRUE)
    string(SUBSTRING "${text}" ${offset} -1 rest)
    string(FIND "${rest}" "\n${TROVEX_FENCE}c program" start)
    string(FIND "${rest}" "\n${TROVEX_FENCE}python program" pythonStart)
    if(start EQUAL -1 OR (pythonStart GREATER -1 AND pythonStart LESS start))
      set(start ${pythonStart})
    endif()
    if(start EQUAL -1)
      break()
    endif()
    math(EXPR number "${number} + 1")
    math(EXPR start "${offset} + ${start} + 1")
    string(SUBSTRING "${text}" ${start} -1 rest)
    string(FIND "${rest}" "\n" infoEnd)
    string(SUBSTRING "${rest}" 0 ${infoEnd} info)
    math(EXPR codeStart "${infoEnd} + 1")
    string(SUBSTRING "${rest}" ${codeStart} -1 rest)
    string(FIND "${rest}" "\n${TROVEX_FENCE}\n" codeEnd)
    if(codeEnd EQUAL -1)
      message(FATAL_ERROR "${page}: the program block ${number} is not closed")
    endif()
    string(SUBSTRING "${rest}" 0 ${codeEnd} code)
    math(EXPR offset "${start} + ${codeStart} + ${codeEnd} + 5")

    # Compiler messages point into the page.
    string(SUBSTRING "${text}" 0 ${start} before)
    string(REGEX MATCHALL "\n" lines "${before}")
    list(LENGTH lines line)
    math(EXPR line "${line} + 2")
    set(name doc_${stem}_${number})
    string(REPLACE "-" "_" name ${name})
    if(info MATCHES "^${TROVEX_FENCE}python")
      set(source ${TROVEX_DOC_DIR}/${name}.py)
      file(WRITE ${source}.new "${code}\n")
    else()
      set(source ${TROVEX_DOC_DIR}/${name}.c)
      file(WRITE ${source}.new "#line ${line} \"${page}\"\n${code}\n")
    endif()
    configure_file(${source}.new ${source} COPYONLY)

    set(expected "")
    string(SUBSTRING "${text}" ${offset} -1 rest)
    string(REGEX MATCH "^\n*${TROVEX_FENCE}text output\n" outputFence "${rest}")
    if(outputFence)
      string(LENGTH "${outputFence}" skip)
      string(SUBSTRING "${rest}" ${skip} -1 rest)
      string(FIND "${rest}" "${TROVEX_FENCE}\n" outputEnd)
      string(SUBSTRING "${rest}" 0 ${outputEnd} output)
      file(WRITE ${TROVEX_DOC_DIR}/${name}.out.new "${output}")
      configure_file(${TROVEX_DOC_DIR}/${name}.out.new ${TROVEX_DOC_DIR}/${name}.out COPYONLY)
      set(expected -DEXPECTED=${TROVEX_DOC_DIR}/${name}.out)
    endif()
    set(channel "")
    if(info MATCHES " channel$")
      set(channel -DCHANNEL_REG=${PROJECT_SOURCE_DIR}/docs/channel-file.reg)
    endif()

    if(source MATCHES "\\.py$")
      if(NOT TROVEX_PYTHON)
        continue()
      endif()
      set(program -DINTERPRETER=${TROVEX_PYTHON} -DPROGRAM=${source} -DARGUMENT=$<TARGET_FILE:trovex>)
    else()
      add_executable(${name} ${source})
      target_link_libraries(${name} PRIVATE trovex)
      target_link_options(${name} PRIVATE ${TROVEX_EXE_LINK_OPTIONS})
      set(program -DPROGRAM=$<TARGET_FILE:${name}> -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR})
    endif()
    add_test(NAME ${name}
      COMMAND ${CMAKE_COMMAND} ${program} -DWORK=${TROVEX_DOC_DIR}/${name} ${expected} ${channel}
              -P ${PROJECT_SOURCE_DIR}/tests/docs/run_example.cmake)
    if(channel AND WIN32)
      # The .reg file configures every program of the Wine prefix: no other
      # test may run and write into the channel's file meanwhile.
      set_tests_properties(${name} PROPERTIES RUN_SERIAL ON)
    endif()
  endwhile()
endforeach()
