# Natively, every test runs with XDG_RUNTIME_DIR set to a folder of its own
# (mode 0700, made before the tests and removed after them by the fixture
# runtime_folders), so that the places the emulation shares between the
# user's processes (the pipe folder with the debug-output socket, and the
# channel's first fallback file) are the test's alone: a test never meets the
# user's own listener, another test, or a copy of the suite in another build
# tree. Under Wine the variable moves nothing of the library's.
set(TROVEX_RUNTIME_ROOT ${CMAKE_BINARY_DIR}/run)

# Gives every test of the calling directory its folder; call it after the
# directory's last add_test.
function(trovex_runtime_folders_for_tests)
  if(WIN32)
    return()
  endif()
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS tests)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT XDG_RUNTIME_DIR=${TROVEX_RUNTIME_ROOT}/${test})
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED runtime_folders)
  endforeach()
  set_property(GLOBAL APPEND PROPERTY TROVEX_RUNTIME_TESTS ${tests})
endfunction()

# The fixture that makes and removes the folders of every test given one;
# deferred to the end of the top directory, when all tests are known.
function(trovex_runtime_folders_fixture)
  get_property(tests GLOBAL PROPERTY TROVEX_RUNTIME_TESTS)
  if(NOT tests)
    return()
  endif()
  string(REPLACE ";" "," names "${tests}")
  foreach(action make remove)
    add_test(NAME runtime_folders_${action}
      COMMAND ${CMAKE_COMMAND} -DACTION=${action} -DROOT=${TROVEX_RUNTIME_ROOT} -DNAMES=${names}
              -P ${PROJECT_SOURCE_DIR}/tests/runtime_folders.cmake)
  endforeach()
  set_tests_properties(runtime_folders_make PROPERTIES FIXTURES_SETUP runtime_folders)
  set_tests_properties(runtime_folders_remove PROPERTIES FIXTURES_CLEANUP runtime_folders)
endfunction()

if(NOT WIN32)
  cmake_language(DEFER CALL trovex_runtime_folders_fixture)
endif()
