# The stamper's sources, in standard C++ only: built into vtrpack (Windows and
# native), its tests, the stamp benchmark and the fuzz target.
set(VELTRANO_STAMP_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VELTRANO_STAMP_SOURCES
  ${VELTRANO_STAMP_DIR}/pe_reader.cpp
  ${VELTRANO_STAMP_DIR}/pe_resources.cpp
  ${VELTRANO_STAMP_DIR}/branding.cpp)
