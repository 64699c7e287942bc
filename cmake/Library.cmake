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

add_library(trovex_static STATIC $<TARGET_OBJECTS:trovex_objects>)
target_include_directories(trovex_static PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
