# GoogleTest from Debian's sources, built with this project's compiler so that
# the Windows build cross-compiles it too.
set(TROVEX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${TROVEX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

if(WIN32)
  # Test programs run under Wine with no runtime DLLs beside them.
  set(TROVEX_EXE_LINK_OPTIONS -static -static-libgcc -static-libstdc++)
endif()

# What every unit-test program links: the library's objects (so internal
# functions can be tested directly), the test support and the main that sets
# the library up as a loader would.
add_library(trovex_unit_test_support STATIC ${PROJECT_SOURCE_DIR}/tests/test_main.cpp
  ${PROJECT_SOURCE_DIR}/tests/support.cpp ${PROJECT_SOURCE_DIR}/tests/fileio/scratch.cpp)
target_link_libraries(trovex_unit_test_support PUBLIC trovex_test_objects gtest)
target_include_directories(trovex_unit_test_support PUBLIC ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/testkit)

# The library's unit tests: every tests/<subsystem>/*.cpp in one program. The
# viewer's (tests/view) are a program of the viewer's own (tools/view).
file(GLOB TROVEX_UNIT_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/*/*.cpp)
list(FILTER TROVEX_UNIT_TESTS EXCLUDE REGEX "/tests/(host|reload|stress|view)/|/tests/fileio/scratch.cpp$")
add_executable(trovex_tests ${TROVEX_UNIT_TESTS})
target_link_libraries(trovex_tests PRIVATE trovex_unit_test_support)
target_link_options(trovex_tests PRIVATE ${TROVEX_EXE_LINK_OPTIONS})
# The format cache's tests need a process whose cache is still empty: the
# other tests fill it.
add_test(NAME unit COMMAND trovex_tests --gtest_filter=-FormatCache.*)
add_test(NAME format_cache COMMAND trovex_tests --gtest_filter=FormatCache.*)

# Black-box test: a host program that uses only the public header and the
# built library (the DLL under Wine, the shared library natively).
file(GLOB TROVEX_HOST_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/host/*.cpp)
add_executable(trovex_host_tests ${TROVEX_HOST_TESTS} ${PROJECT_SOURCE_DIR}/tests/host/header_c89.c)
set_source_files_properties(${PROJECT_SOURCE_DIR}/tests/host/header_c89.c PROPERTIES
  COMPILE_OPTIONS "-std=c89;-pedantic-errors")
target_link_libraries(trovex_host_tests PRIVATE trovex gtest_main)
target_link_options(trovex_host_tests PRIVATE ${TROVEX_EXE_LINK_OPTIONS})
# A callback that calls every export asks for the system report: in a
# process of its own, since the report's test needs the process's first one.
add_test(NAME host COMMAND trovex_host_tests --gtest_filter=-HostReentry.*)
add_test(NAME host_reentry COMMAND trovex_host_tests --gtest_filter=HostReentry.*)

# Threads against one protocol file, in a process of its own so that its
# debug channel goes to a file (set in the registry under Wine).
add_executable(trovex_stress_tests ${PROJECT_SOURCE_DIR}/tests/stress/threads_stress_test.cpp)
target_link_libraries(trovex_stress_tests PRIVATE trovex gtest_main)
target_link_options(trovex_stress_tests PRIVATE ${TROVEX_EXE_LINK_OPTIONS})
if(WIN32)
  target_link_libraries(trovex_stress_tests PRIVATE advapi32)
endif()
add_test(NAME stress COMMAND trovex_stress_tests)

# Repeated load and unload of the built library by a program that does not
# link it.
add_executable(trovex_reload_tests ${PROJECT_SOURCE_DIR}/tests/reload/reload_test.cpp)
target_link_libraries(trovex_reload_tests PRIVATE gtest_main ${CMAKE_DL_LIBS} $<$<BOOL:${WIN32}>:psapi>)
target_compile_definitions(trovex_reload_tests PRIVATE TROVEX_LIBRARY_PATH="$<TARGET_FILE:trovex>")
target_link_options(trovex_reload_tests PRIVATE ${TROVEX_EXE_LINK_OPTIONS})
add_dependencies(trovex_reload_tests trovex)
add_test(NAME reload COMMAND trovex_reload_tests)

# A process that exits while other threads emit, again and again. POSIX only:
# a Windows process ends its other threads before the library unloads.
if(NOT WIN32)
  add_executable(trovex_exit_while_emitting ${PROJECT_SOURCE_DIR}/tests/reload/exit_while_emitting.cpp)
  target_link_libraries(trovex_exit_while_emitting PRIVATE trovex)
  add_test(NAME exit_while_emitting
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:trovex_exit_while_emitting> -DRUNS=30
            -DARGUMENT=${CMAKE_BINARY_DIR}/exit-while-emitting.txt -P ${PROJECT_SOURCE_DIR}/tests/reload/repeat.cmake)
endif()
# The debug channel from outside, one process per configuration: the registry
# (Windows) or the environment (POSIX), file, standard error and, under Wine,
# the serial port. Under Wine it writes the registry of the build's prefix,
# which the unit tests also do: the two never run at the same time.
add_executable(channel_scenario ${PROJECT_SOURCE_DIR}/tests/host/channel/scenario.cpp)
target_include_directories(channel_scenario PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_options(channel_scenario PRIVATE ${TROVEX_EXE_LINK_OPTIONS})
if(WIN32)
  target_link_libraries(channel_scenario PRIVATE advapi32)
  set(TROVEX_CHANNEL_EMULATOR -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
      -DRELAY_SOURCE=${PROJECT_SOURCE_DIR}/tests/host/channel/pty_relay.c)
else()
  target_compile_definitions(channel_scenario PRIVATE TROVEX_LIBRARY_FILE="$<TARGET_FILE:trovex>")
  target_link_libraries(channel_scenario PRIVATE ${CMAKE_DL_LIBS})
endif()
add_dependencies(channel_scenario trovex)
add_test(NAME channel
  COMMAND ${CMAKE_COMMAND} -DSCENARIO=$<TARGET_FILE:channel_scenario> -DWORK=${CMAKE_BINARY_DIR}/channel-test
          ${TROVEX_CHANNEL_EMULATOR} -P ${PROJECT_SOURCE_DIR}/tests/host/channel/check_channel.cmake
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# Four hosts at once share the channel's file and one protocol file.
add_executable(share_writer ${PROJECT_SOURCE_DIR}/tests/host/sharing/share_writer.c)
target_link_libraries(share_writer PRIVATE trovex)
target_link_options(share_writer PRIVATE ${TROVEX_EXE_LINK_OPTIONS})
add_test(NAME sharing
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/host/sharing/check_sharing.sh $<TARGET_FILE:share_writer>
          ${CMAKE_BINARY_DIR}/sharing-test ${CMAKE_CROSSCOMPILING_EMULATOR})
# Scenarios that count messages between processes: scripts/load-scenarios.sh
# runs them again beside CPU load.
set_tests_properties(sharing PROPERTIES LABELS scenario)
if(WIN32)
  # Under Wine the registry is the prefix's, and every program that prints
  # reads the channel's key at its first message: while one of these tests
  # points the key at its own file, no other program may run, or its messages
  # land in that file. The prefix's fallback files (c:\tmp\kprintf.txt) and
  # the debug output, which one taker holds at a time, are the prefix's too.
  # Natively the registry is the process's own, and the places shared between
  # processes are the test's own runtime folder.
  set_tests_properties(channel stress PROPERTIES RESOURCE_LOCK channel_registry)
  set_tests_properties(sharing PROPERTIES RESOURCE_LOCK "channel_registry;channel_fallback")
  set_tests_properties(unit PROPERTIES RESOURCE_LOCK "channel_registry;debug_output")
  set_tests_properties(channel unit stress sharing PROPERTIES RUN_SERIAL ON)
endif()

if(WIN32)
  find_program(TROVEX_OBJDUMP NAMES ${CMAKE_CXX_COMPILER_TARGET}-objdump REQUIRED)
  add_test(NAME dll_tables
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${TROVEX_OBJDUMP} -DDLL=$<TARGET_FILE:trovex> -DARCH=${TROVEX_WINDOWS_ARCH}
            -DDEF=${PROJECT_SOURCE_DIR}/src/api/trovex0x1.def
            -P ${PROJECT_SOURCE_DIR}/tests/host/check_dll.cmake)
endif()

# Not in the sanitizer builds: a consumer built without the sanitizer cannot
# link their library.
if(NOT TROVEX_SANITIZE AND NOT TROVEX_TSAN)
  # The installed package works for a host project: install into a stage,
  # check the files, build consumers with find_package(trovex), pkg-config
  # (natively) or MSVC's import library (Windows) and run them; unpack the
  # archive cpack makes.
  if(WIN32)
    find_program(TROVEX_CLANG NAMES clang clang-14 REQUIRED)
    find_program(TROVEX_LLD_LINK NAMES lld-link lld-link-14 PATHS /usr/lib/llvm-14/bin REQUIRED)
    set(TROVEX_PACKAGE_TOOLS -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR} -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE}
        -DCLANG=${TROVEX_CLANG} -DLLD_LINK=${TROVEX_LLD_LINK} -DARCH=${TROVEX_WINDOWS_ARCH}
        -DOTHER_BUILD=${TROVEX_OTHER_WINDOWS_BUILD})
  else()
    find_program(TROVEX_PKG_CONFIG NAMES pkg-config REQUIRED)
    set(TROVEX_PACKAGE_TOOLS -DPKG_CONFIG=${TROVEX_PKG_CONFIG} -DCC=${CMAKE_C_COMPILER} -DNM=${CMAKE_NM}
        -DDEF=${TROVEX_DEF} -DPROJECT=${PROJECT_SOURCE_DIR})
  endif()
  add_test(NAME package_consumer
    COMMAND ${CMAKE_COMMAND}
      -DBUILD=${CMAKE_BINARY_DIR} -DSOURCE=${PROJECT_SOURCE_DIR}/tests/package
      -DSTAGE=${CMAKE_BINARY_DIR}/package-stage -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DCPACK=${CMAKE_CPACK_COMMAND} ${TROVEX_PACKAGE_TOOLS} -P ${PROJECT_SOURCE_DIR}/tests/package/run.cmake)
  # The zip holds both Windows builds: without the other one built, its part
  # of the test is skipped (the README's test command builds both first).
  set_tests_properties(package_consumer PROPERTIES SKIP_REGULAR_EXPRESSION "zip skipped:")
endif()
include(${PROJECT_SOURCE_DIR}/tests/docs/examples.cmake)
trovex_runtime_folders_for_tests()
