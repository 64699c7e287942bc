# The installed package as a host developer meets it: install the build into a
# stage and check its files, build the consumer with find_package(trovex) and
# run it, then the other ways in (pkg-config natively, after the static
# library is built once with Makefiles from the PROJECT's sources; on Windows
# the MSVC import library, linked by an MSVC-compatible linker), and the
# package that cpack makes. On Windows that is a zip of both architectures, ARCH (x86 or
# x64, this build's) and the other one's OTHER_BUILD: it is checked, and a
# consumer of this build's architecture is built from it and run.
#
#   cmake -DBUILD=dir -DSOURCE=tests/package -DSTAGE=dir -DLIBDIR=lib -DCC=cc
#         -DCPACK=cpack [-DPKG_CONFIG=pkg-config -DNM=nm -DDEF=trovex0x1.def -DPROJECT=dir]
#         [-DEMULATOR=wine-run.sh -DTOOLCHAIN=file -DCLANG=clang -DLLD_LINK=lld-link
#          -DARCH=x86|x64 -DOTHER_BUILD=dir]
#         -P run.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}\nended with ${rc}:\n${out}")
  endif()
endfunction()

function(expect_files root)
  foreach(file ${ARGN})
    if(NOT EXISTS "${root}/${file}")
      message(FATAL_ERROR "${root}/${file} is missing")
    endif()
  endforeach()
endfunction()

# The machine field of a PE image's file header, as its two bytes in hex.
function(expect_machine image bytes)
  file(READ ${image} offset OFFSET 60 LIMIT 2 HEX)
  string(SUBSTRING ${offset} 2 2 high)
  string(SUBSTRING ${offset} 0 2 low)
  math(EXPR machine_offset "0x${high}${low} + 4")
  file(READ ${image} machine OFFSET ${machine_offset} LIMIT 2 HEX)
  if(NOT machine STREQUAL bytes)
    message(FATAL_ERROR "${image} has the machine bytes ${machine}, not ${bytes}")
  endif()
endfunction()

file(REMOVE_RECURSE ${STAGE})
set(prefix ${STAGE}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

# The CMake package's entry files: on Windows one pair for both architectures.
set(cmakedir ${LIBDIR}/cmake/trovex)
if(EMULATOR)
  set(cmakedir lib/cmake/trovex)
endif()
set(common include/trovex.h ${cmakedir}/trovexConfig.cmake ${cmakedir}/trovexConfigVersion.cmake
    share/doc/trovex/channel-file.reg share/doc/trovex/channel-pipe.reg share/doc/trovex/channel-debugger.reg)
if(EMULATOR)
  # An architecture's folder: the DLL, both import libraries, the viewer, the
  # debug files of the two programs, and the CMake targets.
  function(architecture_files variable arch)
    set(${variable} ${arch}/trovex0x1.dll ${arch}/trovex0x1.dll.debug ${arch}/trovex-view.exe
        ${arch}/trovex-view.exe.debug ${arch}/libtrovex0x1.dll.a ${arch}/trovex0x1.lib
        ${arch}/trovex-view-logon.cmd lib/cmake/trovex/${arch}/trovexTargets.cmake PARENT_SCOPE)
  endfunction()
  architecture_files(installed ${ARCH})
  list(APPEND installed ${common})
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
else()
  set(installed bin/trovex-view ${LIBDIR}/libtrovex.so ${LIBDIR}/libtrovex.a ${LIBDIR}/pkgconfig/trovex.pc
      ${LIBDIR}/pkgconfig/trovex-static.pc lib/systemd/user/trovex-view.service ${common})
endif()
expect_files(${prefix} ${installed})

if(NOT EMULATOR)
  # The static library defines the 18 exports and no other global name.
  file(STRINGS ${DEF} exports REGEX "^ +Trovex_")
  list(TRANSFORM exports STRIP)
  list(SORT exports)
  execute_process(COMMAND ${NM} -g --defined-only ${prefix}/${LIBDIR}/libtrovex.a OUTPUT_VARIABLE out)
  string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] [^\n]+" globals "${out}")
  list(TRANSFORM globals REPLACE "^[0-9a-f]+ [A-Za-z] " "")
  list(SORT globals)
  if(NOT globals STREQUAL exports)
    set(others ${globals})
    list(REMOVE_ITEM others ${exports})
    set(missing ${exports})
    list(REMOVE_ITEM missing ${globals})
    message(FATAL_ERROR "libtrovex.a: global names beside the exports: ${others}\nexports missing: ${missing}")
  endif()
  # A host may define any name the library uses inside itself, even by the
  # very symbol the library's objects define it as. The static consumer
  # defines every such name that the archive lists, so that the names tried
  # are the library's own and cannot fall behind it.
  execute_process(COMMAND ${NM} --defined-only ${prefix}/${LIBDIR}/libtrovex.a OUTPUT_VARIABLE out)
  string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] [^\n]+" names "${out}")
  list(TRANSFORM names REPLACE "^[0-9a-f]+ [A-Za-z] " "")
  list(FILTER names INCLUDE REGEX "^[A-Za-z_][A-Za-z0-9_]*$")
  list(FILTER names EXCLUDE REGEX "^__")  # the toolchain's own
  list(REMOVE_DUPLICATES names)
  list(REMOVE_ITEM names ${exports})
  list(LENGTH names count)
  if(count LESS 100)
    message(FATAL_ERROR "libtrovex.a: only ${count} inner names found: ${names}")
  endif()
  set(host_names ${STAGE}/host_names.c)
  set(definitions "")
  set(addresses "")
  set(i 0)
  foreach(name ${names})
    string(APPEND definitions "int hostName${i} __asm__(\"${name}\") = ${i};\n")
    string(APPEND addresses "&hostName${i},")
    math(EXPR i "${i} + 1")
  endforeach()
  file(WRITE ${host_names} "/* The library's ${count} inner names, defined again by the host. */\n${definitions}"
       "static int* const hostNames[] = {${addresses}};\n"
       "int hostNamesIntact(void) {\n  int i;\n"
       "  for (i = 0; i < ${count}; ++i) if (*hostNames[i] != i) return 0;\n  return 1;\n}\n")
  set(host_names_source -DTROVEX_HOST_NAMES_SOURCE=${host_names})
endif()

if(NOT EMULATOR)
  # The build most packagers run: CMake's default generator (Makefiles), in
  # parallel. The static library alone, in a tree of its own, so that no
  # other target builds the objects it links before it asks for them.
  set(makefiles ${STAGE}/makefiles)
  run(${CMAKE_COMMAND} -S ${PROJECT} -B ${makefiles} -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${makefiles} --target trovex_static -j2)
  file(REMOVE_RECURSE ${makefiles})
endif()

# CMake: find_package(trovex), a C project linking trovex::trovex and,
# natively, trovex::trovex_static; the further arguments say where the
# package is.
function(build_and_run_consumer dir)
  run(${CMAKE_COMMAND} -S ${SOURCE} -B ${dir} ${toolchain} ${ARGN})
  run(${CMAKE_COMMAND} --build ${dir})
  if(EMULATOR)
    run(${EMULATOR} ${dir}/consumer.exe)
  else()
    run(${dir}/consumer)
    run(${dir}/consumer_static)
  endif()
endfunction()
build_and_run_consumer(${STAGE}/consumer -DCMAKE_PREFIX_PATH=${prefix} ${host_names_source})

if(EMULATOR)
  # MSVC's way: an object of the MSVC target linked against trovex0x1.lib
  # by lld-link, with no C runtime, the DLL beside the program.
  set(dir ${STAGE}/msvc)
  file(MAKE_DIRECTORY ${dir})
  if(ARCH STREQUAL x64)
    set(msvc_target x86_64-pc-windows-msvc)
    set(safeseh "")
  else()
    set(msvc_target i686-pc-windows-msvc)
    set(safeseh /safeseh:no)
  endif()
  foreach(source consumer msvc_entry)
    run(${CLANG} --target=${msvc_target} -Wall -Wextra -Werror -O1 -I${prefix}/include
        -c ${SOURCE}/${source}.c -o ${dir}/${source}.obj)
  endforeach()
  run(${LLD_LINK} /nologo /entry:start /subsystem:console /nodefaultlib ${safeseh}
      /out:${dir}/consumer.exe ${dir}/consumer.obj ${dir}/msvc_entry.obj ${prefix}/${LIBDIR}/trovex0x1.lib)
  file(COPY ${prefix}/${ARCH}/trovex0x1.dll DESTINATION ${dir})
  run(${EMULATOR} ${dir}/consumer.exe)
else()
  # pkg-config: trovex links the shared library, trovex-static the archive
  # (beside the shared library), into a host that defines the library's
  # inner names (as the CMake consumer does); that one runs with no library path.
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  foreach(module trovex trovex-static)
    execute_process(COMMAND ${PKG_CONFIG} --cflags --libs ${module} OUTPUT_VARIABLE pc RESULT_VARIABLE rc
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "pkg-config does not find ${module}.pc")
    endif()
    separate_arguments(pc UNIX_COMMAND "${pc}")
    set(program ${STAGE}/pkg-config-${module})
    if(module STREQUAL trovex)
      run(${CC} ${SOURCE}/consumer.c ${pc} -o ${program})
      run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/${LIBDIR} ${program})
    else()
      run(${CC} -DTROVEX_HOST_NAMES ${SOURCE}/consumer.c ${host_names} ${pc} -o ${program})
      run(${program})
    endif()
  endforeach()
endif()

# cpack: the archive holds the same tree under one top folder; on Windows,
# with the other architecture's folder beside this one.
if(EMULATOR)
  if(NOT EXISTS ${OTHER_BUILD}/bin/trovex0x1.dll)
    message("zip skipped: it holds both architectures, and ${OTHER_BUILD} is not built")
    return()
  endif()
  if(ARCH STREQUAL x64)
    set(other x86)
  else()
    set(other x64)
  endif()
  architecture_files(other_files ${other})
  list(APPEND installed ${other_files})
endif()
run(${CPACK} --config ${BUILD}/CPackConfig.cmake -B ${STAGE}/cpack)
file(GLOB archive ${STAGE}/cpack/trovex-*.zip ${STAGE}/cpack/trovex-*.tar.gz)
if(NOT archive)
  message(FATAL_ERROR "cpack made no archive")
endif()
get_filename_component(top ${archive} NAME)
string(REGEX REPLACE "\\.(zip|tar\\.gz)$" "" top "${top}")
file(MAKE_DIRECTORY ${STAGE}/unpacked)
run(${CMAKE_COMMAND} -E chdir ${STAGE}/unpacked ${CMAKE_COMMAND} -E tar xf ${archive})
set(unpacked ${STAGE}/unpacked/${top})
expect_files(${unpacked} ${installed})

if(EMULATOR)
  # Each folder's DLL is of its architecture, and a consumer of this build's
  # architecture builds from the zip and runs.
  expect_machine(${unpacked}/x86/trovex0x1.dll 4c01)  # i386, little-endian
  expect_machine(${unpacked}/x64/trovex0x1.dll 6486)  # x86-64
  # A toolchain file that finds packages only under its root path, as many
  # do, re-roots the prefix path too: the package is found by trovex_DIR.
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${STAGE}/packages-in-root-only.cmake)
  file(WRITE ${STAGE}/packages-in-root-only.cmake
       "include(${TOOLCHAIN})\nset(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)\n")
  build_and_run_consumer(${STAGE}/zip-consumer -Dtrovex_DIR=${unpacked}/lib/cmake/trovex)
endif()
