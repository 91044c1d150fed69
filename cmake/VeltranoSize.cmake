# Prints a program's size in bytes; with LIMIT, fails when it is larger.
#
#   cmake -DPROGRAM=file [-DLIMIT=bytes] [-DNAME=text] -P VeltranoSize.cmake
#
# Used after each link of the setup launcher, so that its growth shows in
# every build log, and by the launcher_size test, which holds the bound.
if(NOT PROGRAM OR NOT EXISTS "${PROGRAM}")
  message(FATAL_ERROR "VeltranoSize: no program at '${PROGRAM}'")
endif()
if(NOT NAME)
  get_filename_component(NAME "${PROGRAM}" NAME)
endif()
file(SIZE "${PROGRAM}" size)
if(LIMIT)
  if(size GREATER LIMIT)
    message(FATAL_ERROR "${NAME}: ${size} bytes, more than the limit of ${LIMIT} bytes")
  endif()
  message(STATUS "${NAME}: ${size} bytes (limit ${LIMIT})")
else()
  message(STATUS "${NAME}: ${size} bytes")
endif()
