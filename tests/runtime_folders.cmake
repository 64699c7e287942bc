# The tests' runtime folders (cmake/RuntimeFolders.cmake): with ACTION=make,
# ROOT/NAME for each of the comma-separated NAMES, mode 0700, left over ones
# of an earlier run removed first; with ACTION=remove, ROOT and all in it.
file(REMOVE_RECURSE ${ROOT})
if(ACTION STREQUAL "make")
  string(REPLACE "," ";" names "${NAMES}")
  set(folders ${ROOT})
  foreach(name IN LISTS names)
    list(APPEND folders ${ROOT}/${name})
  endforeach()
  file(MAKE_DIRECTORY ${folders})
  file(CHMOD ${folders} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endif()
