# Checks that programs carry the product's version in their version
# resource, read back with windres, in CMake's script mode:
#
#   cmake -DWINDRES=windres -DVERSION=1.2.3 -DPROGRAMS=a.exe;b.exe -P VeltranoVersionCheck.cmake
string(REGEX MATCHALL "[0-9]+" parts "${VERSION}.0.0.0")
list(SUBLIST parts 0 4 parts)
list(JOIN parts ", " fixed)
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND "${WINDRES}" -i "${program}" -O rc
    RESULT_VARIABLE result OUTPUT_VARIABLE rc ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "windres cannot read ${program}: ${error}")
  endif()
  foreach(expected "FILEVERSION ${fixed}" "PRODUCTVERSION ${fixed}"
                   "VALUE \"FileVersion\", \"${VERSION}\"" "VALUE \"ProductVersion\", \"${VERSION}\"")
    string(FIND "${rc}" "${expected}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${program} lacks ${expected} in its version resource:\n${rc}")
    endif()
  endforeach()
  message(STATUS "${program} carries version ${VERSION}")
endforeach()
