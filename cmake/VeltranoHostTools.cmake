# The build machine's own programs (tools/host), built with its system
# compiler by this build: the native vtrpack, which packs the build's
# payloads, and the generators that the build runs. Target: veltrano_host_tools.
include(ExternalProject)
set(VELTRANO_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-vtrpack CACHE INTERNAL "")
set(VELTRANO_VTRPACK_HOST ${VELTRANO_HOST_TOOLS_DIR}/vtrpack CACHE INTERNAL "The native vtrpack")
set(VELTRANO_MAKE_SAMPLE_DATA ${VELTRANO_HOST_TOOLS_DIR}/make_sample_data CACHE INTERNAL "")
set(VELTRANO_MAKE_ART ${VELTRANO_HOST_TOOLS_DIR}/make_art CACHE INTERNAL "")
ExternalProject_Add(veltrano_host_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/host
  BINARY_DIR ${VELTRANO_HOST_TOOLS_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
             -DVELTRANO_BZIP2_SOURCE_DIR=${VELTRANO_BZIP2_SOURCE_DIR}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${VELTRANO_VTRPACK_HOST} ${VELTRANO_MAKE_SAMPLE_DATA} ${VELTRANO_MAKE_ART})

# The stamper's fuzz target (tools/vtrpack/fuzz), built with clang's
# libFuzzer when the build machine has clang (scripts/setup.sh installs it).
find_program(VELTRANO_CLANGXX clang++)
if(VELTRANO_CLANGXX)
  set(VELTRANO_STAMP_FUZZ ${CMAKE_BINARY_DIR}/host-fuzz/stamp_fuzz CACHE INTERNAL "")
  ExternalProject_Add(veltrano_stamp_fuzz
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/vtrpack/fuzz
    BINARY_DIR ${CMAKE_BINARY_DIR}/host-fuzz
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${VELTRANO_CLANGXX}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${VELTRANO_STAMP_FUZZ})
else()
  unset(VELTRANO_STAMP_FUZZ CACHE)
  message(WARNING "clang++ not found (scripts/setup.sh installs it): no fuzzing of the stamp")
endif()

# The fuzz target of the archive table reader, built with clang (libFuzzer),
# which scripts/setup.sh installs. Target: veltrano_fuzz.
find_program(VELTRANO_CLANGXX NAMES clang++ clang++-14)
set(VELTRANO_FUZZ_DIR ${CMAKE_BINARY_DIR}/fuzz CACHE INTERNAL "")
set(VELTRANO_ARCHIVE_TABLE_FUZZ ${VELTRANO_FUZZ_DIR}/archive_table_fuzz CACHE INTERNAL "")
if(VELTRANO_CLANGXX)
  ExternalProject_Add(veltrano_fuzz
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/payload/fuzz
    BINARY_DIR ${VELTRANO_FUZZ_DIR}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${VELTRANO_CLANGXX}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${VELTRANO_ARCHIVE_TABLE_FUZZ})
else()
  message(WARNING "clang++ is missing (scripts/setup.sh installs it): no fuzz target")
endif()
