# Cross build for 32-bit Windows with Debian's MinGW-w64 compilers.
# The win32 thread model is used on purpose: the posix one pulls in
# winpthreads, which imports functions that Windows XP lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VELTRANO_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VELTRANO_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VELTRANO_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${VELTRANO_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${VELTRANO_MINGW_PREFIX}-objdump)
set(CMAKE_STRIP ${VELTRANO_MINGW_PREFIX}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${VELTRANO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program runs under Wine through this wrapper (tests, payload tools).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
