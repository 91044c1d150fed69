# Cross build for 32-bit Windows (the shipped flavour that runs everywhere)
# with Debian's MinGW-w64 compilers.
set(VELTRANO_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
