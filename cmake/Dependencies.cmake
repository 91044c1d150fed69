# Third-party code, installed by scripts/setup.sh and compiled here for the target.

set(VELTRANO_DEPS_DIR "/opt/veltrano-deps" CACHE PATH "Where scripts/setup.sh puts dependency sources")
set(VELTRANO_BZIP2_SOURCE_DIR "${VELTRANO_DEPS_DIR}/bzip2" CACHE PATH "libbz2 source (Debian source package)")
set(VELTRANO_DIVSUFSORT_SOURCE_DIR "${VELTRANO_DEPS_DIR}/divsufsort" CACHE PATH "libdivsufsort source (Debian source package)")
set(VELTRANO_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source (Debian googletest package)")

# libbz2, static.
if(NOT EXISTS "${VELTRANO_BZIP2_SOURCE_DIR}/bzlib.c")
  message(FATAL_ERROR "libbz2 source not found in ${VELTRANO_BZIP2_SOURCE_DIR}: run scripts/setup.sh")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/Bzip2Sources.cmake)
veltrano_bzip2_sources(bz2_sources ${VELTRANO_BZIP2_SOURCE_DIR})
add_library(bz2 STATIC ${bz2_sources})
target_include_directories(bz2 SYSTEM PUBLIC ${VELTRANO_BZIP2_SOURCE_DIR})
target_compile_options(bz2 PRIVATE -w -O2)
# Neither option changes the codec's code. Without unwind tables (no C++
# exception passes through libbz2) the linker can drop what a program never
# calls, such as the compressing side in the setup launcher; the .eh_frame
# of an object would otherwise keep every function of it. The C runtime's
# own fprintf for the library's diagnostics spares the launcher MinGW's
# printf with its floating-point formatting.
target_compile_options(bz2 PRIVATE -fno-asynchronous-unwind-tables)
target_compile_definitions(bz2 PRIVATE __USE_MINGW_ANSI_STDIO=0)

# libdivsufsort, static: the encoder's block sort.
include(${CMAKE_CURRENT_LIST_DIR}/DivsufsortSources.cmake)
veltrano_divsufsort_library(divsufsort ${VELTRANO_DIVSUFSORT_SOURCE_DIR})

# Boost headers only. The host's /usr/include cannot go on the cross compiler's
# path (it would shadow the C library headers), so expose just boost/.
set(VELTRANO_BOOST_INCLUDE "${CMAKE_BINARY_DIR}/boost-include")
if(NOT EXISTS "/usr/include/boost/version.hpp")
  message(FATAL_ERROR "Boost headers not found: run scripts/setup.sh")
endif()
file(MAKE_DIRECTORY ${VELTRANO_BOOST_INCLUDE})
file(CREATE_LINK /usr/include/boost ${VELTRANO_BOOST_INCLUDE}/boost SYMBOLIC)
add_library(veltrano_boost INTERFACE)
target_include_directories(veltrano_boost SYSTEM INTERFACE ${VELTRANO_BOOST_INCLUDE})
# Header-only use; the win32 thread model has no std::mutex, so Boost.Regex
# runs without its internal locking; the file filters (lib/fs/find.cpp) hold a
# lock of their own around every use of it.
target_compile_definitions(veltrano_boost INTERFACE BOOST_ALL_NO_LIB BOOST_DISABLE_THREADS)

# GoogleTest, from its source, for the target.
if(NOT EXISTS "${VELTRANO_GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest source not found in ${VELTRANO_GTEST_SOURCE_DIR}: run scripts/setup.sh")
endif()
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VELTRANO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
target_compile_options(gtest PRIVATE -w)
# (C++ sources only: a test may carry C sources of the program it tests.)
target_compile_options(gtest PUBLIC
  "$<$<COMPILE_LANGUAGE:CXX>:-include;${CMAKE_CURRENT_LIST_DIR}/gtest/win32_notification.h>")
# Our own main for every test program (tests/support/test_main.cpp).
add_library(veltrano_gtest_main STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp)
target_link_libraries(veltrano_gtest_main PUBLIC gtest)
