# Read by cpack before it installs the builds that go into the Windows zip:
# each of them must be built, or the zip would lack an architecture.
foreach(build IN LISTS CPACK_TROVEX_BUILDS)
  if(NOT EXISTS "${build}/bin/trovex0x1.dll")
    message(FATAL_ERROR "The zip holds the 32-bit and the 64-bit build: ${build} is not built yet.")
  endif()
endforeach()
