# Shared part of the MinGW-w64 cross toolchains; the flavour's file sets
# VELTRANO_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR first.
# The win32 thread model is used on purpose: the posix one pulls in
# winpthreads, which imports functions that Windows XP lacks.
set(CMAKE_SYSTEM_NAME Windows)

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
