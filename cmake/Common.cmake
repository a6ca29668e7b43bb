# Shared build settings: warnings, sanitizers, GoogleTest from Debian's sources.

# Folders to leave out of a build (a work-in-progress folder of someone else, say).
set(PW_SKIP_DIRS "" CACHE STRING "Subsystem, test or tool folder names not to build")

# Warnings are errors on everything we write (product, tools, tests); not on GoogleTest.
set(PW_WARNINGS -Wall -Wextra -Werror)

if(WIN32)
    # One static .exe each: no runtime DLLs beside the programs.
    add_link_options(-static -static-libgcc -static-libstdc++)
    add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501 NOMINMAX WIN32_LEAN_AND_MEAN)
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
    if(PW_SANITIZE)
        set(PW_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                               -fno-omit-frame-pointer)
        add_compile_options(${PW_SANITIZER_FLAGS})
        add_link_options(${PW_SANITIZER_FLAGS})
    endif()
endif()

# GoogleTest from the distribution's sources, built with this tree's compiler.
set(PW_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
function(pw_add_googletest)
    if(TARGET gtest)
        return()
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
