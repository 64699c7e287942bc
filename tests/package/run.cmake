# The installed package as a host developer meets it: install the build into a
# stage and check its files, build the consumer with find_package(trovex) and
# run it, then the other ways in (pkg-config natively; on Windows the MSVC
# import library, linked by an MSVC-compatible linker), and the package that
# cpack makes.
#
#   cmake -DBUILD=dir -DSOURCE=tests/package -DSTAGE=dir -DLIBDIR=lib -DCC=cc
#         -DCPACK=cpack [-DPKG_CONFIG=pkg-config]
#         [-DEMULATOR=wine-run.sh -DTOOLCHAIN=file -DCLANG=clang -DLLD_LINK=lld-link]
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

file(REMOVE_RECURSE ${STAGE})
set(prefix ${STAGE}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

set(common include/trovex.h ${LIBDIR}/cmake/trovex/trovexConfig.cmake
    ${LIBDIR}/cmake/trovex/trovexConfigVersion.cmake share/doc/trovex/channel-file.reg)
if(EMULATOR)
  set(installed bin/trovex0x1.dll bin/trovex0x1.dll.debug bin/trovex-view.exe bin/trovex-view.exe.debug
      ${LIBDIR}/libtrovex0x1.dll.a ${LIBDIR}/trovex0x1.lib ${common})
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
else()
  set(installed bin/trovex-view ${LIBDIR}/libtrovex.so ${LIBDIR}/libtrovex.a ${LIBDIR}/pkgconfig/trovex.pc ${common})
endif()
expect_files(${prefix} ${installed})

# CMake: find_package(trovex), a C project linking trovex::trovex and,
# natively, trovex::trovex_static.
run(${CMAKE_COMMAND} -S ${SOURCE} -B ${STAGE}/consumer -DCMAKE_PREFIX_PATH=${prefix} ${toolchain})
run(${CMAKE_COMMAND} --build ${STAGE}/consumer)
if(EMULATOR)
  run(${EMULATOR} ${STAGE}/consumer/consumer.exe)
else()
  run(${STAGE}/consumer/consumer)
  run(${STAGE}/consumer/consumer_static)
endif()

if(EMULATOR)
  # MSVC's way: an object of the MSVC target linked against trovex0x1.lib
  # by lld-link, with no C runtime, the DLL beside the program.
  set(dir ${STAGE}/msvc)
  file(MAKE_DIRECTORY ${dir})
  foreach(source consumer msvc_entry)
    run(${CLANG} --target=i686-pc-windows-msvc -Wall -Wextra -Werror -O1 -I${prefix}/include
        -c ${SOURCE}/${source}.c -o ${dir}/${source}.obj)
  endforeach()
  run(${LLD_LINK} /nologo /entry:start /subsystem:console /nodefaultlib /safeseh:no
      /out:${dir}/consumer.exe ${dir}/consumer.obj ${dir}/msvc_entry.obj ${prefix}/${LIBDIR}/trovex0x1.lib)
  file(COPY ${prefix}/bin/trovex0x1.dll DESTINATION ${dir})
  run(${EMULATOR} ${dir}/consumer.exe)
else()
  # pkg-config, with the shared library and, with --static, the archive.
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  foreach(kind shared static)
    set(flags --cflags --libs)
    set(link "")
    if(kind STREQUAL static)
      set(flags --static ${flags})
      set(link -static)
    endif()
    execute_process(COMMAND ${PKG_CONFIG} ${flags} trovex OUTPUT_VARIABLE pc RESULT_VARIABLE rc
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "pkg-config does not find trovex.pc")
    endif()
    separate_arguments(pc UNIX_COMMAND "${pc}")
    run(${CC} ${SOURCE}/consumer.c ${pc} ${link} -o ${STAGE}/pkg-config-${kind})
    run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/${LIBDIR} ${STAGE}/pkg-config-${kind})
  endforeach()
endif()

# cpack: the archive holds the same tree under one top folder.
run(${CPACK} --config ${BUILD}/CPackConfig.cmake -B ${STAGE}/cpack)
file(GLOB archive ${STAGE}/cpack/trovex-*.zip ${STAGE}/cpack/trovex-*.tar.gz)
if(NOT archive)
  message(FATAL_ERROR "cpack made no archive")
endif()
get_filename_component(top ${archive} NAME)
string(REGEX REPLACE "\\.(zip|tar\\.gz)$" "" top "${top}")
file(MAKE_DIRECTORY ${STAGE}/unpacked)
run(${CMAKE_COMMAND} -E chdir ${STAGE}/unpacked ${CMAKE_COMMAND} -E tar xf ${archive})
expect_files(${STAGE}/unpacked/${top} ${installed})
