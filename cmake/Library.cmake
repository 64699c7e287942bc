# The library: every source under src/ except the other platform's emulation,
# compiled once into an object library that the DLL/shared library, the static
# library and the unit tests all link.
file(GLOB_RECURSE TROVEX_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp)
if(WIN32)
  list(FILTER TROVEX_SOURCES EXCLUDE REGEX "/src/platform/posix/")
endif()

add_library(trovex_objects OBJECT ${TROVEX_SOURCES})
target_include_directories(trovex_objects
  PUBLIC ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(trovex_objects PUBLIC TROVEX_BUILDING)
set_target_properties(trovex_objects PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_compile_options(trovex_objects PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
# Every floating-point step rounded to double, never contracted into a fused
# multiply-add, so that the "f" conversion prints the same digits in every
# build (the Windows toolchain file does the same for its SSE2 arithmetic).
target_compile_options(trovex_objects PRIVATE -ffp-contract=off)
if(NOT WIN32)
  target_link_libraries(trovex_objects PUBLIC pthread)
endif()

if(WIN32)
  add_library(trovex SHARED $<TARGET_OBJECTS:trovex_objects> ${PROJECT_SOURCE_DIR}/src/api/trovex0x1.def)
  set_target_properties(trovex PROPERTIES OUTPUT_NAME trovex0x1 PREFIX "" IMPORT_PREFIX lib)
  # The host needs nothing beside the DLL: the compiler's runtime is linked in.
  target_link_options(trovex PRIVATE -static -static-libgcc -static-libstdc++)
  target_link_libraries(trovex PRIVATE kernel32 advapi32)
else()
  add_library(trovex SHARED $<TARGET_OBJECTS:trovex_objects>)
  target_link_libraries(trovex PRIVATE pthread)
endif()
target_include_directories(trovex PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)

set(TROVEX_INSTALL_TARGETS trovex)
if(NOT WIN32)
  # Natively the library also comes as a static archive; on Windows only the
  # DLL makes sense, since the module entry runs at DLL load.
  add_library(trovex_static STATIC $<TARGET_OBJECTS:trovex_objects>)
  set_target_properties(trovex_static PROPERTIES OUTPUT_NAME trovex)
  target_include_directories(trovex_static PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
  target_link_libraries(trovex_static PUBLIC pthread)
  list(APPEND TROVEX_INSTALL_TARGETS trovex_static)
endif()

# Installation with a CMake package: find_package(trovex) gives trovex::trovex.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(TROVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/trovex)
install(TARGETS ${TROVEX_INSTALL_TARGETS} EXPORT trovexTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/trovex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT trovexTargets NAMESPACE trovex:: DESTINATION ${TROVEX_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/trovexConfig.cmake.in
  ${CMAKE_BINARY_DIR}/trovexConfig.cmake INSTALL_DESTINATION ${TROVEX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/trovexConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/trovexConfig.cmake ${CMAKE_BINARY_DIR}/trovexConfigVersion.cmake
  DESTINATION ${TROVEX_CMAKE_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
