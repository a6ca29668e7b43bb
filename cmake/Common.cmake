# Shared build settings: warnings, sanitizers, GoogleTest from Debian's sources.

# Folders left out of a build on purpose (a work-in-progress folder of someone else, say). The
# folder lists are explicit: a folder that is gone fails the configure, a skipped one is named.
set(PW_SKIP_DIRS "" CACHE STRING "Subsystem, test or tool folder names not to build")

# Adds the named folders below the current one, except those in PW_SKIP_DIRS.
function(pw_add_subdirectories)
    foreach(dir ${ARGN})
        if(dir IN_LIST PW_SKIP_DIRS)
            message(WARNING "PW_SKIP_DIRS: not building ${CMAKE_CURRENT_SOURCE_DIR}/${dir}")
            set_property(GLOBAL APPEND PROPERTY PW_SKIPPED_DIRS ${dir})
        else()
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()

# After every folder list: a PW_SKIP_DIRS entry that skipped nothing is a mistake.
function(pw_check_skip_dirs)
    get_property(skipped GLOBAL PROPERTY PW_SKIPPED_DIRS)
    foreach(dir ${PW_SKIP_DIRS})
        if(NOT dir IN_LIST skipped)
            message(FATAL_ERROR "PW_SKIP_DIRS names '${dir}', which is no folder of this build")
        endif()
    endforeach()
endfunction()

# Warnings are errors on everything we write (product, tools, tests); not on GoogleTest.
if(MSVC)
    set(PW_WARNINGS /W4 /WX)
else()
    set(PW_WARNINGS -Wall -Wextra -Werror)
endif()

if(WIN32)
    # One static .exe each: no runtime DLLs beside the programs.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        add_link_options(-static -static-libgcc -static-libstdc++)
    elseif(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT MSVC)
        # Clang's mingw driver: -static alone links libstdc++, libgcc and winpthreads statically.
        add_link_options(-static)
    elseif(MSVC)
        set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    endif()
    add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501 NOMINMAX WIN32_LEAN_AND_MEAN)
    if(NOT MSVC)
        # Reproducible programs: no link time in the PE header, and no folder of this checkout
        # or build in them (the binary folder may lie inside the source folder: the later map
        # wins). Release programs are linked stripped: strip would write a time of its own.
        add_link_options(-Wl,--no-insert-timestamp $<$<CONFIG:Release>:-s>)
        add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
                            -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
    endif()
    option(PW_FUZZ "Build libFuzzer targets" OFF)
else()
    option(PW_SANITIZE "Build the host tree with AddressSanitizer and UBSan" ON)
    include(CheckCXXSourceCompiles)
    set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer")
    check_cxx_source_compiles(
        "#include <cstdint>\n#include <cstddef>\nextern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t){return 0;}"
        PW_HAVE_LIBFUZZER)
    unset(CMAKE_REQUIRED_FLAGS)
    option(PW_FUZZ "Build libFuzzer targets" ${PW_HAVE_LIBFUZZER})
    if(NOT PW_HAVE_LIBFUZZER)
        message(WARNING "${CMAKE_CXX_COMPILER} links no -fsanitize=fuzzer: no fuzz targets")
    endif()
    if(PW_SANITIZE)
        set(PW_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                               -fno-omit-frame-pointer)
        add_compile_options(${PW_SANITIZER_FLAGS})
        add_link_options(${PW_SANITIZER_FLAGS})
    endif()
endif()

# GoogleTest from its sources, built with this tree's compiler: Debian's googletest package puts
# them where the default says; elsewhere name a clone or release archive of GoogleTest.
set(PW_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
function(pw_add_googletest)
    if(TARGET gtest)
        return()
    endif()
    if(NOT EXISTS "${PW_GTEST_SOURCE}/CMakeLists.txt")
        message(FATAL_ERROR "No GoogleTest sources in PW_GTEST_SOURCE (${PW_GTEST_SOURCE}): "
                            "install Debian's googletest, or give -DPW_GTEST_SOURCE=<folder of "
                            "GoogleTest's sources>")
    endif()
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${PW_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()

# A product or tool target: our warnings as errors.
function(pw_target_defaults target)
    target_compile_options(${target} PRIVATE ${PW_WARNINGS})
endfunction()

# Sets OUT to PATH of the build host as the Windows programs see it: under Wine the Unix root is
# drive Z:. Test code turns run-time values the same way (tests/support/WindowsPath.h).
function(pw_wine_path out path)
    if(CMAKE_HOST_WIN32)
        set(${out} "${path}" PARENT_SCOPE)
    else()
        set(${out} "Z:${path}" PARENT_SCOPE)
    endif()
endfunction()

# Hands TARGET the Windows path of FILE_TARGET's built file as the string macro NAME, and builds
# FILE_TARGET first.
function(pw_wine_path_definition target name file_target)
    pw_wine_path(path "$<TARGET_FILE:${file_target}>")
    target_compile_definitions(${target} PRIVATE "${name}=\"${path}\"")
    add_dependencies(${target} ${file_target})
endfunction()

# One test program is one CTest test: under Wine a process start costs seconds.
function(pw_add_test_program name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    pw_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gmock gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
