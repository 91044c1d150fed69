# veltrano_payload(TARGET_NAME FOLDER OUTPUT [DEPENDS file-or-target ...])
# Builds OUTPUT, the setup's compressed payload, from the files of FOLDER with
# vtrpack at build time. FOLDER's files are tracked as they are at configure
# time; pass files produced by the build (and their targets) as DEPENDS.
function(veltrano_payload target folder output)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(output "${output}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  file(GLOB inputs CONFIGURE_DEPENDS "${folder}/*")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:vtrpack> pack "${folder}" "${output}"
    DEPENDS vtrpack ${inputs} ${ARG_DEPENDS}
    COMMENT "Packing ${folder} into ${output}"
    VERBATIM)
  add_custom_target(${target} DEPENDS "${output}")
endfunction()
