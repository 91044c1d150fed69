# veltrano_payload(TARGET_NAME FOLDER OUTPUT [DEPENDS file-or-target ...])
# Builds OUTPUT, the setup's compressed payload, from the files of FOLDER with
# the native vtrpack (tools/host, built by the build itself) at build
# time. FOLDER's files are tracked as they are at configure time; pass files
# produced by the build (and their targets) as DEPENDS.

function(veltrano_payload target folder output)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(output "${output}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  file(GLOB inputs CONFIGURE_DEPENDS "${folder}/*")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${VELTRANO_VTRPACK_HOST} pack "${folder}" "${output}"
    DEPENDS veltrano_host_tools ${VELTRANO_VTRPACK_HOST} ${inputs} ${ARG_DEPENDS}
    COMMENT "Packing ${folder} into ${output}"
    VERBATIM)
  add_custom_target(${target} DEPENDS "${output}")
endfunction()
