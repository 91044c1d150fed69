# The build machine's own programs (tools/host), built with its system
# compiler by this build: the native vtrpack, which packs the build's
# payloads, and the generators that the build runs. Target: veltrano_host_tools.
include(ExternalProject)
set(VELTRANO_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-vtrpack CACHE INTERNAL "")
set(VELTRANO_VTRPACK_HOST ${VELTRANO_HOST_TOOLS_DIR}/vtrpack CACHE INTERNAL "The native vtrpack")
set(VELTRANO_MAKE_SAMPLE_DATA ${VELTRANO_HOST_TOOLS_DIR}/make_sample_data CACHE INTERNAL "")
set(VELTRANO_MAKE_ART ${VELTRANO_HOST_TOOLS_DIR}/make_art CACHE INTERNAL "")
set(VELTRANO_MAKE_NAME_CASE ${VELTRANO_HOST_TOOLS_DIR}/make_name_case CACHE INTERNAL "")
ExternalProject_Add(veltrano_host_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/host
  BINARY_DIR ${VELTRANO_HOST_TOOLS_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
             -DVELTRANO_BZIP2_SOURCE_DIR=${VELTRANO_BZIP2_SOURCE_DIR}
             -DVELTRANO_DIVSUFSORT_SOURCE_DIR=${VELTRANO_DIVSUFSORT_SOURCE_DIR}
             -DVELTRANO_VERSION=${PROJECT_VERSION}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${VELTRANO_VTRPACK_HOST} ${VELTRANO_MAKE_SAMPLE_DATA} ${VELTRANO_MAKE_ART}
                   ${VELTRANO_MAKE_NAME_CASE})

# The payload core's own tests, built natively twice (tools/host): with the
# thread sanitizer and with the address and undefined-behaviour sanitizers.
# payload/CMakeLists.txt runs them.
foreach(sanitizer thread address)
  set(VELTRANO_CORE_TESTS_${sanitizer} ${CMAKE_BINARY_DIR}/host-sanitize-${sanitizer}/payload_core_tests
      CACHE INTERNAL "")
  ExternalProject_Add(veltrano_core_tests_${sanitizer}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/host
    BINARY_DIR ${CMAKE_BINARY_DIR}/host-sanitize-${sanitizer}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
               -DVELTRANO_BZIP2_SOURCE_DIR=${VELTRANO_BZIP2_SOURCE_DIR}
               -DVELTRANO_DIVSUFSORT_SOURCE_DIR=${VELTRANO_DIVSUFSORT_SOURCE_DIR}
               -DVELTRANO_GTEST_SOURCE_DIR=${VELTRANO_GTEST_SOURCE_DIR}
               -DVELTRANO_HOST_SANITIZE=${sanitizer}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${VELTRANO_CORE_TESTS_${sanitizer}})
endforeach()

# The fuzz targets, built with clang's libFuzzer (scripts/setup.sh installs
# clang): the stamp (tools/vtrpack/setup_image/fuzz, target veltrano_stamp_fuzz) and the
# archive table reader (payload/fuzz, target veltrano_fuzz).
find_program(VELTRANO_CLANGXX NAMES clang++ clang++-14)
function(_veltrano_fuzz_target name source binary program)
  ExternalProject_Add(${name}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/${source}
    BINARY_DIR ${binary}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${VELTRANO_CLANGXX}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${program})
endfunction()
if(VELTRANO_CLANGXX)
  set(VELTRANO_STAMP_FUZZ ${CMAKE_BINARY_DIR}/host-stamp-fuzz/stamp_fuzz CACHE INTERNAL "")
  set(VELTRANO_FUZZ_DIR ${CMAKE_BINARY_DIR}/fuzz CACHE INTERNAL "")
  set(VELTRANO_ARCHIVE_TABLE_FUZZ ${VELTRANO_FUZZ_DIR}/archive_table_fuzz CACHE INTERNAL "")
  _veltrano_fuzz_target(veltrano_stamp_fuzz tools/vtrpack/setup_image/fuzz ${CMAKE_BINARY_DIR}/host-stamp-fuzz
                        ${VELTRANO_STAMP_FUZZ})
  _veltrano_fuzz_target(veltrano_fuzz payload/fuzz ${VELTRANO_FUZZ_DIR}
                        ${VELTRANO_ARCHIVE_TABLE_FUZZ})
else()
  unset(VELTRANO_STAMP_FUZZ CACHE)
  message(WARNING "clang++ not found (scripts/setup.sh installs it): no fuzz targets")
endif()
