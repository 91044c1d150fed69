# Building setup programs.
#
#   veltrano_setup(TARGET FOLDER OUTPUT_EXE [DEPENDS targets-or-files...])
#
# packs every file of FOLDER into a payload (bzip2-compressed archive, see
# payload/VeltranoPayload.cmake) and links the launcher with it as its
# payload resource, giving OUTPUT_EXE. FOLDER must hold VTRInstaller.exe, the
# program the launcher starts after extracting. DEPENDS names what produces
# the folder's files, so that the payload is rebuilt after them.
#
# Without CMake, the same result comes from the payload-less launcher that
# every build makes (setup/VeltranoSetupBase.exe) and the payload builder:
#
#   vtrpack pack FOLDER product.zuk
#   vtrpack stamp VeltranoSetupBase.exe product.zuk ProductSetup.exe

set(VELTRANO_SETUP_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})

# veltrano_setup_executable(TARGET PAYLOAD_FILE): the launcher program with
# PAYLOAD_FILE (already compressed) as its resource ZUK 137; an empty
# PAYLOAD_FILE gives the launcher without payload.
function(veltrano_setup_executable target payload)
  set(res ${PROJECT_SOURCE_DIR}/res)
  # msvcrt_compat.c keeps the C runtime's post-2000 imports out of the
  # launcher; it must be linked as an object, not from a library.
  set(sources ${VELTRANO_SETUP_SOURCE_DIR}/main.cpp ${VELTRANO_SETUP_SOURCE_DIR}/msvcrt_compat.c
              ${VELTRANO_SETUP_SOURCE_DIR}/terminate.cpp ${res}/setup.rc ${res}/manifest.rc)
  if(payload)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_payload.rc)
    file(GENERATE OUTPUT ${rc} CONTENT "137 ZUK \"${payload}\"\n")
    set_source_files_properties(${rc} PROPERTIES GENERATED TRUE OBJECT_DEPENDS ${payload})
    list(APPEND sources ${rc})
  endif()
  add_executable(${target} WIN32 ${sources})
  target_link_libraries(${target} PRIVATE qor_setup_shell)
  target_include_directories(${target} PRIVATE ${res})
  # Sections at page-aligned file offsets: Wine then maps them from the file
  # instead of copying them into the process's own memory, which for the
  # payload resource would add its whole size, depending on how the code
  # before it happens to end.
  target_link_options(${target} PRIVATE -municode $<$<CONFIG:Release>:-s>
                      -Wl,--file-alignment,4096)
  veltrano_shipped_program(${target})
  veltrano_launcher_program(${target})
  veltrano_check_dll_allowlist(${target})
endfunction()

function(veltrano_setup target folder output)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  set(payload ${CMAKE_CURRENT_BINARY_DIR}/${target}.zuk)
  veltrano_payload(${target}_payload ${folder} ${payload} DEPENDS ${ARG_DEPENDS})
  veltrano_setup_executable(${target} ${payload})
  add_dependencies(${target} ${target}_payload)
  get_filename_component(out_dir ${output} DIRECTORY)
  get_filename_component(out_name ${output} NAME_WE)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${out_name}
    RUNTIME_OUTPUT_DIRECTORY ${out_dir})
endfunction()
