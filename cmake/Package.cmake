# What a host developer gets beyond the targets and the CMake package: on
# Windows an import library for MSVC's linker and a zip made by cpack that
# holds the 32-bit and the 64-bit build; on Linux a pkg-config file.
if(WIN32)
  # MSVC's linker reads the COFF import library that dlltool makes from the
  # .def file; the mingw one (libtrovex0x1.dll.a) stays for gcc and clang.
  find_program(TROVEX_DLLTOOL NAMES ${CMAKE_CXX_COMPILER_TARGET}-dlltool REQUIRED)
  set(TROVEX_MSVC_IMPLIB ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/trovex0x1.lib)
  if(TROVEX_WINDOWS_ARCH STREQUAL x64)
    set(TROVEX_DLLTOOL_MACHINE i386:x86-64)
  else()
    set(TROVEX_DLLTOOL_MACHINE i386)
  endif()
  add_custom_command(OUTPUT ${TROVEX_MSVC_IMPLIB}
    COMMAND ${TROVEX_DLLTOOL} --machine ${TROVEX_DLLTOOL_MACHINE} --input-def ${TROVEX_DEF} --dllname trovex0x1.dll
            --output-lib ${TROVEX_MSVC_IMPLIB}
    DEPENDS ${TROVEX_DEF}
    COMMENT "Making the MSVC import library trovex0x1.lib")
  add_custom_target(trovex_msvc_implib ALL DEPENDS ${TROVEX_MSVC_IMPLIB})
  install(FILES ${TROVEX_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows)
  # The zip holds this build and the other architecture's, each in its own
  # folder (the header, documentation and CMake entry file are the same in
  # both). cpack refuses to make it while the other build is missing.
  set(TROVEX_OTHER_WINDOWS_BUILD "" CACHE PATH
      "Build folder of the other Windows architecture, whose install goes into the same zip")
  if(TROVEX_OTHER_WINDOWS_BUILD)
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/" "${TROVEX_OTHER_WINDOWS_BUILD};${PROJECT_NAME};ALL;/")
    set(CPACK_TROVEX_BUILDS "${CMAKE_BINARY_DIR};${TROVEX_OTHER_WINDOWS_BUILD}")
    set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackageBuilds.cmake)
  endif()

  # What ships for Windows is stripped; its debug information goes into
  # FILE.debug beside it, which a debugger finds by the debug link that the
  # stripped file carries. The tests run the stripped files.
  find_program(TROVEX_OBJCOPY NAMES ${CMAKE_CXX_COMPILER_TARGET}-objcopy REQUIRED)
  function(trovex_ship_stripped target)
    set(file $<TARGET_FILE:${target}>)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${TROVEX_OBJCOPY} --only-keep-debug ${file} ${file}.debug
      COMMAND ${TROVEX_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
      VERBATIM)
    install(FILES ${file}.debug DESTINATION ${CMAKE_INSTALL_BINDIR})
  endfunction()
  trovex_ship_stripped(trovex)
else()
  # The .pc file finds its prefix from its own place, so the installed tree
  # can be moved (or installed with --prefix) as a whole.
  file(RELATIVE_PATH TROVEX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" TROVEX_PC_TO_PREFIX "${TROVEX_PC_TO_PREFIX}")
  # trovex.pc links the shared library; trovex-static.pc names the archive by
  # its path, since -ltrovex finds the shared library beside it whatever
  # --static says (that option only adds the private dependencies).
  foreach(module trovex trovex-static)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/${module}.pc.in ${CMAKE_BINARY_DIR}/${module}.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/${module}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  endforeach()
  set(CPACK_GENERATOR TGZ)
endif()

# Everything `cmake --install` installs, built by one target: the demo script
# builds it, so that the install works after the demo alone.
add_custom_target(trovex_shipped)
add_dependencies(trovex_shipped ${TROVEX_INSTALL_TARGETS})
if(WIN32)
  add_dependencies(trovex_shipped trovex_msvc_implib)
endif()

set(CPACK_PACKAGE_VENDOR "trovex")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Diagnostic messages for 32-bit and 64-bit Windows programs")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# cpack writes the archive and its work folder into the build folder, from
# wherever it is run.
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
