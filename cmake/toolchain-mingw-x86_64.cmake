# Cross build for 64-bit Windows (x64: Windows PE and Server Core without
# WOW64, and XP x64 / Server 2003 x64 and later) with Debian's MinGW-w64
# compilers.
set(VELTRANO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
