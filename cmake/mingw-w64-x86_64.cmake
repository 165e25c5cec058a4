# Cross-builds Skarvel for 64-bit Windows with Debian's mingw-w64, for
# everything below the window (core, flashfs, link, zvt and their tests):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DSKARVEL_GUI=OFF
# The -posix compilers are the ones whose std::thread works (winpthreads).
# Test programs run under wine; the project's tests use their own runner
# (tests/wine/wine_run.sh.in) in place of the bare wine named here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SKARVEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SKARVEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKARVEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SKARVEL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SKARVEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 lives outside PATH; the wine wrapper in PATH would do too.
find_program(SKARVEL_WINE NAMES wine64 wine PATHS /usr/lib/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${SKARVEL_WINE})
