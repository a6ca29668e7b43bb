# What both mingw-w64 toolchain files share: the 32-bit Windows target, the mingw-w64 tree as the
# only place to find libraries and headers, and Wine as the runner of the test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PW_MINGW_PREFIX i686-w64-mingw32)
set(PW_MINGW_ROOT /usr/${PW_MINGW_PREFIX})

set(CMAKE_FIND_ROOT_PATH ${PW_MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

find_program(PW_WINE NAMES wine wine-stable)
if(PW_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PW_WINE})
endif()
