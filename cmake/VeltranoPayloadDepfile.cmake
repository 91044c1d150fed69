# Writes the depfile of a packed payload (veltrano_add_setup), in CMake's
# script mode:
#
#   cmake -DFOLDER=dir -DOUTPUT=payload.zuk -DDEPFILE=payload.zuk.d -P VeltranoPayloadDepfile.cmake
#
# It names the folder and everything in it: a changed file packs again, and
# so does a file that appears or goes away, since that changes the folder's
# time.
foreach(required FOLDER OUTPUT DEPFILE)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "VeltranoPayloadDepfile.cmake: ${required} is not set")
  endif()
endforeach()

# Make's escapes, which Ninja reads too.
function(_veltrano_depfile_path path out)
  string(REPLACE "\\" "/" path "${path}")
  string(REPLACE "$" "$$" path "${path}")
  string(REPLACE "#" "\\#" path "${path}")
  string(REPLACE " " "\\ " path "${path}")
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE entries LIST_DIRECTORIES true "${FOLDER}/*")
list(SORT entries)
_veltrano_depfile_path("${OUTPUT}" text)
string(APPEND text ":")
foreach(path IN ITEMS "${FOLDER}" LISTS entries)
  _veltrano_depfile_path("${path}" path)
  string(APPEND text " \\\n  ${path}")
endforeach()
file(WRITE "${DEPFILE}" "${text}\n")
