# Cross-compiles the 32-bit Windows programs with mingw-w64 (posix thread model) and runs the
# Windows test programs under Wine through CTest.
include(${CMAKE_CURRENT_LIST_DIR}/MingwTarget.cmake)

set(CMAKE_C_COMPILER ${PW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PW_MINGW_PREFIX}-windres)
