# The setup image editor's sources, in standard C++ only: the library that
# vtrpack (Windows and native), its tests, the stamp benchmark and the fuzz
# target build on.
set(VELTRANO_SETUP_IMAGE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VELTRANO_SETUP_IMAGE_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/include)
set(VELTRANO_SETUP_IMAGE_SOURCES
  ${VELTRANO_SETUP_IMAGE_DIR}/stamp_error.cpp
  ${VELTRANO_SETUP_IMAGE_DIR}/pe_layout.cpp
  ${VELTRANO_SETUP_IMAGE_DIR}/pe_reader.cpp
  ${VELTRANO_SETUP_IMAGE_DIR}/branding.cpp
  ${VELTRANO_SETUP_IMAGE_DIR}/pe_resources.cpp)
