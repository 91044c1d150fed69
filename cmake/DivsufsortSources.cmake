# libdivsufsort from Debian's source package (scripts/setup.sh unpacks it),
# static, for the Windows build and the build machine's own tools alike. Its
# two generated headers (divsufsort.h and config.h) are made here, in the
# build's folder, for the toolchains we build with: both have the C99
# headers, inline and a 32-bit int32_t.
function(veltrano_divsufsort_library target dir)
  if(NOT EXISTS "${dir}/lib/divsufsort.c")
    message(FATAL_ERROR "libdivsufsort source not found in ${dir}: run scripts/setup.sh")
  endif()
  set(include_dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-include)
  file(READ "${dir}/VERSION" PROJECT_VERSION_FULL)
  string(STRIP "${PROJECT_VERSION_FULL}" PROJECT_VERSION_FULL)
  foreach(header INTTYPES_H STDDEF_H STDINT_H STDLIB_H STRING_H MEMORY_H SYS_TYPES_H)
    set(HAVE_${header} 1)
  endforeach()
  set(INLINE inline)
  configure_file(${dir}/include/config.h.cmake ${include_dir}/config.h)
  set(W64BIT "")
  set(INCFILE "#include <inttypes.h>")
  set(DIVSUFSORT_IMPORT "")
  set(DIVSUFSORT_EXPORT "")
  set(SAUCHAR_TYPE uint8_t)
  set(SAINT32_TYPE int32_t)
  set(SAINDEX_TYPE int32_t)
  set(SAINT_PRId PRId32)
  set(SAINDEX_PRId PRId32)
  configure_file(${dir}/include/divsufsort.h.cmake ${include_dir}/divsufsort.h @ONLY)
  add_library(${target} STATIC ${dir}/lib/divsufsort.c ${dir}/lib/sssort.c ${dir}/lib/trsort.c
    ${dir}/lib/utils.c)
  target_include_directories(${target} SYSTEM PUBLIC ${include_dir})
  target_include_directories(${target} PRIVATE ${dir}/include)
  target_compile_definitions(${target} PRIVATE HAVE_CONFIG_H)
  # As for libbz2: no unwind tables (no C++ exception passes through it),
  # and the C runtime's own printf for its (unused) diagnostics.
  target_compile_options(${target} PRIVATE -w -O3 -fno-asynchronous-unwind-tables)
  target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=0)
endfunction()
