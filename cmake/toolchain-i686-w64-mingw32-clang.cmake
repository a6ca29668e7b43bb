# Cross-compiles the 32-bit Windows programs with clang and links them with lld, against the same
# mingw-w64 headers and import libraries and the posix-thread GCC runtime (libstdc++, libgcc,
# winpthreads) as toolchain-i686-w64-mingw32.cmake: a second compiler that keeps the sources
# free of one compiler's habits. Test programs run under Wine as in the GCC tree.
include(${CMAKE_CURRENT_LIST_DIR}/MingwTarget.cmake)
set(CMAKE_SYSROOT ${PW_MINGW_ROOT})

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${PW_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${PW_MINGW_PREFIX})
set(CMAKE_AR ${PW_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${PW_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_RC_COMPILER ${PW_MINGW_PREFIX}-windres)

# Debian's clang does not recognise a GCC version folder named "12-posix", so it finds neither
# libstdc++'s headers nor crtbegin.o and libgcc: the posix GCC driver says where they are.
execute_process(COMMAND ${PW_MINGW_PREFIX}-gcc-posix -print-libgcc-file-name
                OUTPUT_VARIABLE PW_MINGW_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE PW_MINGW_LIBGCC_RESULT)
if(NOT PW_MINGW_LIBGCC_RESULT EQUAL 0 OR NOT EXISTS "${PW_MINGW_LIBGCC}")
    message(FATAL_ERROR "${PW_MINGW_PREFIX}-gcc-posix (g++-mingw-w64-i686-posix) is needed for "
                        "the runtime libraries; run scripts/setup.sh")
endif()
get_filename_component(PW_MINGW_GCC_DIR "${PW_MINGW_LIBGCC}" DIRECTORY)
set(PW_MINGW_CXX_INCLUDE ${PW_MINGW_GCC_DIR}/include/c++)

# Inside the sysroot clang finds no C++ headers of its own, so these are the only ones.
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${PW_MINGW_CXX_INCLUDE}
    ${PW_MINGW_CXX_INCLUDE}/${PW_MINGW_PREFIX} ${PW_MINGW_CXX_INCLUDE}/backward)
# -B: the start files (crtbegin.o, crtend.o) beside libgcc; -pthread: libstdc++ of the posix
# thread model needs winpthreads, which the GCC driver always links.
set(PW_MINGW_LINK_FLAGS "-fuse-ld=lld -B${PW_MINGW_GCC_DIR} -L${PW_MINGW_GCC_DIR} -pthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${PW_MINGW_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${PW_MINGW_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${PW_MINGW_LINK_FLAGS}")
# The resource scripts are preprocessed by the same compiler as the sources.
set(CMAKE_RC_FLAGS_INIT "--preprocessor=clang --preprocessor-arg=--target=${PW_MINGW_PREFIX} \
--preprocessor-arg=--sysroot=${CMAKE_SYSROOT} --preprocessor-arg=-E --preprocessor-arg=-xc \
--preprocessor-arg=-DRC_INVOKED")

