# Cross-compiles the 32-bit Windows programs with mingw-w64 (posix thread model) and runs the
# Windows test programs under Wine through CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PW_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${PW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PW_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

find_program(PW_WINE NAMES wine wine-stable)
if(PW_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PW_WINE})
endif()
