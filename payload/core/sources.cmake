# The payload's portable core: archive layout and names, and the bzip2
# engine in both directions (sequential and block-parallel). No Windows
# headers: the same sources build the launcher's library and the native
# payload builder. The thread primitives come from
# core/pack_threads_std.cpp (native) or core/pack_threads_win32.cpp.
set(VELTRANO_PAYLOAD_CORE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VELTRANO_PAYLOAD_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/include)
set(VELTRANO_PAYLOAD_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/payload_core.cpp
  ${CMAKE_CURRENT_LIST_DIR}/archive_names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/archive_layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bzip2_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bzip2_stream_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bzip2_block_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bzip2_decode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bzip2_decode_parallel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bzip2_block_encoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bzip2_encode_parallel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decode_threads.cpp)

# The name rule's case table (name_case.h) is made at build time by
# make_name_case, a program of the build machine, into the build's own
# folder: the projects built with the build machine's compiler build the
# program themselves (VELTRANO_NAME_CASE_GENERATOR_SOURCE); the Windows
# build runs the one tools/host builds. veltrano_name_case_table(OUTPUT
# GENERATOR) adds the step; OUTPUT then joins the core's sources.
set(VELTRANO_NAME_CASE_GENERATOR_SOURCE ${CMAKE_CURRENT_LIST_DIR}/make_name_case.cpp)
function(veltrano_name_case_table output generator)
  add_custom_command(OUTPUT ${output}
    COMMAND ${generator} ${output}
    DEPENDS ${generator}
    COMMENT "Making the entry-name rule's case table"
    VERBATIM)
endfunction()
