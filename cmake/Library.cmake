# The library: every source under src/, compiled once into object libraries
# that the DLL/shared library, the static library and the unit tests link.
# Natively the Win32 emulation is compiled twice: plain for what ships, and
# with the test controls (fault injection, fixed records) for the unit tests,
# so that no shipped call pays for a check that only tests use.
file(GLOB_RECURSE TROVEX_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp)
set(TROVEX_EMULATION_SOURCES ${TROVEX_SOURCES})
list(FILTER TROVEX_SOURCES EXCLUDE REGEX "/src/platform/posix/")
list(FILTER TROVEX_EMULATION_SOURCES INCLUDE REGEX "/src/platform/posix/")

# Settings shared by every object library of the library.
function(trovex_object_library name)
  add_library(${name} OBJECT ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(${name} PUBLIC TROVEX_BUILDING)
  if(TROVEX_CONTRACTS)
    target_compile_definitions(${name} PUBLIC TROVEX_CONTRACTS)
  endif()
  set_target_properties(${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  # Every floating-point step rounded to double, never contracted into a fused
  # multiply-add, so that the "f" conversion prints the same digits in every
  # build (the Windows toolchain file does the same for its SSE2 arithmetic).
  target_compile_options(${name} PRIVATE -ffp-contract=off)
  if(NOT WIN32)
    target_link_libraries(${name} PUBLIC pthread)
  endif()
endfunction()

trovex_object_library(trovex_core ${TROVEX_SOURCES})
# trovex_objects: the shipped library's objects; trovex_test_objects: the
# same with the emulation's test controls (sim.h), for the unit tests.
add_library(trovex_objects INTERFACE)
add_library(trovex_test_objects INTERFACE)
target_link_libraries(trovex_objects INTERFACE trovex_core)
target_link_libraries(trovex_test_objects INTERFACE trovex_core)
target_sources(trovex_objects INTERFACE $<TARGET_OBJECTS:trovex_core>)
target_sources(trovex_test_objects INTERFACE $<TARGET_OBJECTS:trovex_core>)
if(NOT WIN32)
  set(TROVEX_SHIPPED_EMULATION ${TROVEX_EMULATION_SOURCES})
  list(FILTER TROVEX_SHIPPED_EMULATION EXCLUDE REGEX "/sim\\.cpp$")
  trovex_object_library(trovex_emulation ${TROVEX_SHIPPED_EMULATION})
  trovex_object_library(trovex_emulation_sim ${TROVEX_EMULATION_SOURCES})
  target_compile_definitions(trovex_emulation_sim PUBLIC TROVEX_SIM)
  target_sources(trovex_objects INTERFACE $<TARGET_OBJECTS:trovex_emulation>)
  target_sources(trovex_test_objects INTERFACE $<TARGET_OBJECTS:trovex_emulation_sim>)
  target_link_libraries(trovex_test_objects INTERFACE trovex_emulation_sim)
endif()

# The 18 exports, with the names a host links against.
set(TROVEX_DEF ${PROJECT_SOURCE_DIR}/src/api/trovex0x1.def)
if(WIN32)
  add_library(trovex SHARED ${TROVEX_DEF})
  target_link_libraries(trovex PRIVATE trovex_objects)
  set_target_properties(trovex PROPERTIES OUTPUT_NAME trovex0x1 PREFIX "" IMPORT_PREFIX lib)
  # The host needs nothing beside the DLL: the compiler's runtime is linked in.
  target_link_options(trovex PRIVATE -static -static-libgcc -static-libstdc++)
  target_link_libraries(trovex PRIVATE kernel32 advapi32)
else()
  add_library(trovex SHARED)
  target_link_libraries(trovex PRIVATE trovex_objects pthread)
endif()
target_include_directories(trovex PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)

set(TROVEX_INSTALL_TARGETS trovex)
if(NOT WIN32)
  # Natively the library also comes as a static archive (on Windows only the
  # DLL makes sense: the module entry runs at DLL load). A host linking it sees
  # the 18 exports alone, as from the shared library: the shipped objects are
  # linked into one relocatable object whose other names are then made local,
  # so a host may define the same names. The library's names are in the
  # namespace trovex (the emulation's in trovex::win32), which keeps them
  # apart from a host's in the source; the archive still hides them, because
  # that namespace is the product's name, which a host's own C++ wrapper may
  # well take, and because the module entry keeps the C name DllMain. One
  # object costs a host nothing that separate ones would save: the module
  # entry starts every subsystem, so a static link takes them all anyway.
  # The link dissolves section groups, so no inline function of ours is
  # dropped for a host's of the same name.
  # The archive's link interface names only what a consumer links beside it:
  # the thread library and, for a consumer linked as C (whose linker adds no
  # C++ runtime), the C++ runtime, as trovex-static.pc does; the maths library
  # the float conversion calls where the compiler does not inline it.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TROVEX_DEF})
  file(STRINGS ${TROVEX_DEF} TROVEX_EXPORTS REGEX "^ +Trovex_")
  list(TRANSFORM TROVEX_EXPORTS STRIP)
  list(JOIN TROVEX_EXPORTS "\n" TROVEX_EXPORTS)
  set(TROVEX_EXPORT_LIST ${CMAKE_BINARY_DIR}/static/exports.txt)
  file(CONFIGURE OUTPUT ${TROVEX_EXPORT_LIST} CONTENT "${TROVEX_EXPORTS}\n")
  # GNU ld, whichever linker the build uses: lld has no --force-group-allocation.
  find_program(TROVEX_PARTIAL_LINKER NAMES ld.bfd REQUIRED)
  set(TROVEX_STATIC_OBJECT ${CMAKE_BINARY_DIR}/static/trovex.o)
  set(TROVEX_SHIPPED_OBJECTS $<TARGET_OBJECTS:trovex_core> $<TARGET_OBJECTS:trovex_emulation>)
  add_custom_command(OUTPUT ${TROVEX_STATIC_OBJECT}
    COMMAND ${TROVEX_PARTIAL_LINKER} -r --force-group-allocation -o ${TROVEX_STATIC_OBJECT}.linked ${TROVEX_SHIPPED_OBJECTS}
    COMMAND ${CMAKE_OBJCOPY} --keep-global-symbols=${TROVEX_EXPORT_LIST}
            ${TROVEX_STATIC_OBJECT}.linked ${TROVEX_STATIC_OBJECT}
    COMMAND ${CMAKE_COMMAND} -E rm ${TROVEX_STATIC_OBJECT}.linked
    # The targets too, not only their objects: Ninja orders the objects by
    # file, but Make knows no rule for another target's object files and
    # would run this command before they are built.
    DEPENDS trovex_core trovex_emulation ${TROVEX_SHIPPED_OBJECTS} ${TROVEX_EXPORT_LIST}
    COMMENT "Linking the static library's object, with the exports alone global"
    COMMAND_EXPAND_LISTS VERBATIM)
  add_library(trovex_static STATIC ${TROVEX_STATIC_OBJECT})
  set_target_properties(trovex_static PROPERTIES OUTPUT_NAME trovex LINKER_LANGUAGE CXX)
  target_include_directories(trovex_static PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
  target_link_libraries(trovex_static PUBLIC pthread m $<$<LINK_LANGUAGE:C>:stdc++>)
  list(APPEND TROVEX_INSTALL_TARGETS trovex_static)
endif()

# Installation with a CMake package: find_package(trovex) gives trovex::trovex.
# A Windows build installs its DLL, import libraries and programs into a
# folder of its architecture (x86 or x64) and its CMake targets into the same
# folder under the package's, so that the 32-bit and the 64-bit build install
# into one tree; the header, the documentation and the package's entry file
# are the same for both.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TROVEX_WINDOWS_ARCH x64)
  else()
    set(TROVEX_WINDOWS_ARCH x86)
  endif()
  set(CMAKE_INSTALL_BINDIR ${TROVEX_WINDOWS_ARCH})
  set(CMAKE_INSTALL_LIBDIR ${TROVEX_WINDOWS_ARCH})
endif()
include(GNUInstallDirs)
if(WIN32)
  set(TROVEX_CMAKE_DIR lib/cmake/trovex)
  set(TROVEX_TARGETS_DIR ${TROVEX_CMAKE_DIR}/${TROVEX_WINDOWS_ARCH})
  set(TROVEX_PER_ARCHITECTURE ON)
  # The entry file serves consumers of either pointer size.
  set(TROVEX_VERSION_ARCH ARCH_INDEPENDENT)
else()
  set(TROVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/trovex)
  set(TROVEX_TARGETS_DIR ${TROVEX_CMAKE_DIR})
  set(TROVEX_PER_ARCHITECTURE OFF)
  set(TROVEX_VERSION_ARCH "")
endif()
include(CMakePackageConfigHelpers)
install(TARGETS ${TROVEX_INSTALL_TARGETS} EXPORT trovexTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/trovex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT trovexTargets NAMESPACE trovex:: DESTINATION ${TROVEX_TARGETS_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/trovexConfig.cmake.in
  ${CMAKE_BINARY_DIR}/trovexConfig.cmake INSTALL_DESTINATION ${TROVEX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/trovexConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ${TROVEX_VERSION_ARCH})
install(FILES ${CMAKE_BINARY_DIR}/trovexConfig.cmake ${CMAKE_BINARY_DIR}/trovexConfigVersion.cmake
  DESTINATION ${TROVEX_CMAKE_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
