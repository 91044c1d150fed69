# Building setup programs.
#
#   veltrano_setup(TARGET FOLDER OUTPUT_EXE [DEPENDS targets-or-files...]
#                  [TITLE text] [ICON file.ico] [VERSION_INFO KEY=VALUE...]
#                  [CERTIFICATE cert.pem KEY key.pem | PKCS12 bundle.p12]
#                  [PASSWORD_FILE file] [DESCRIPTION text] [SIGN_OPTIONS ...])
#
# packs every file of FOLDER into a payload (bzip2-compressed archive, see
# payload/VeltranoPayload.cmake) and links the launcher with it as its
# payload resource, giving OUTPUT_EXE. FOLDER must hold VTRInstaller.exe, the
# program the launcher starts after extracting. DEPENDS names what produces
# the folder's files, so that the payload is rebuilt after them.
#
# TITLE, ICON and VERSION_INFO brand the setup as `vtrpack stamp` does with
# --title, --icon and --version-info (VERSION_INFO takes any number of
# KEY=VALUE, KEY one of CompanyName, FileDescription, FileVersion,
# LegalCopyright, ProductName, ProductVersion). A branded setup is the
# payload-less launcher stamped with the payload and the branding by the
# native vtrpack after each link: the same program, byte for byte, as
# `vtrpack stamp --title ... VeltranoSetupBase.exe payload OUT` gives.
# Without them the setup is linked as it always was.
#
# With a certificate and its key (PEM files), or a PKCS#12 bundle, the setup
# is signed with osslsigncode (see veltrano_sign). PASSWORD_FILE holds the
# key's password; DESCRIPTION is the name shown when Windows asks for
# consent; SIGN_OPTIONS go to `osslsigncode sign` as they are (for example
# -ts URL for a time stamp server).
#
# Without CMake, the same result comes from the payload-less launcher that
# every build makes (setup/VeltranoSetupBase.exe) and the payload builder:
#
#   vtrpack pack FOLDER product.zuk
#   vtrpack stamp VeltranoSetupBase.exe product.zuk ProductSetup.exe
#   osslsigncode sign -certs cert.pem -key key.pem -in ProductSetup.exe -out Signed.exe

# The functions find their files beside this one, so that they work from
# any folder of the build.

# veltrano_sign(TARGET (CERTIFICATE cert KEY key | PKCS12 bundle)
#               [PASSWORD_FILE file] [DESCRIPTION text] [SIGN_OPTIONS ...]):
# signs the program TARGET after each link (cmake/VeltranoSign.cmake). The
# signing time is VELTRANO_SOURCE_DATE_EPOCH when the build has one, so that
# signed setups are reproducible too.
function(veltrano_sign target)
  cmake_parse_arguments(ARG "" "CERTIFICATE;KEY;PKCS12;PASSWORD_FILE;DESCRIPTION" "SIGN_OPTIONS"
                        ${ARGN})
  find_program(VELTRANO_OSSLSIGNCODE osslsigncode)
  if(NOT VELTRANO_OSSLSIGNCODE)
    message(FATAL_ERROR "veltrano_sign: osslsigncode not found (scripts/setup.sh installs it)")
  endif()
  set(args -DOSSLSIGNCODE=${VELTRANO_OSSLSIGNCODE} -DPROGRAM=$<TARGET_FILE:${target}>)
  set(inputs "")
  if(ARG_PKCS12)
    get_filename_component(ARG_PKCS12 "${ARG_PKCS12}" ABSOLUTE)
    list(APPEND args -DPKCS12=${ARG_PKCS12})
    list(APPEND inputs ${ARG_PKCS12})
  elseif(ARG_CERTIFICATE AND ARG_KEY)
    get_filename_component(ARG_CERTIFICATE "${ARG_CERTIFICATE}" ABSOLUTE)
    get_filename_component(ARG_KEY "${ARG_KEY}" ABSOLUTE)
    list(APPEND args -DCERTIFICATE=${ARG_CERTIFICATE} -DKEY=${ARG_KEY})
    list(APPEND inputs ${ARG_CERTIFICATE} ${ARG_KEY})
  else()
    message(FATAL_ERROR "veltrano_sign(${target}): give CERTIFICATE and KEY, or PKCS12")
  endif()
  if(ARG_PASSWORD_FILE)
    get_filename_component(ARG_PASSWORD_FILE "${ARG_PASSWORD_FILE}" ABSOLUTE)
    list(APPEND args -DPASSWORD_FILE=${ARG_PASSWORD_FILE})
    list(APPEND inputs ${ARG_PASSWORD_FILE})
  endif()
  if(ARG_DESCRIPTION)
    list(APPEND args "-DDESCRIPTION=${ARG_DESCRIPTION}")
  endif()
  if(VELTRANO_SOURCE_DATE_EPOCH)
    list(APPEND args -DSIGNING_TIME=${VELTRANO_SOURCE_DATE_EPOCH})
  endif()
  if(ARG_SIGN_OPTIONS)
    # One argument to the script; its semicolons appear only in the command.
    string(REPLACE ";" "$<SEMICOLON>" options "${ARG_SIGN_OPTIONS}")
    list(APPEND args "-DOPTIONS=${options}")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} ${args} -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../cmake/VeltranoSign.cmake
    COMMENT "Signing ${target}"
    VERBATIM)
  # A new certificate or key signs again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${inputs})
endfunction()

# veltrano_setup_executable(TARGET PAYLOAD_FILE): the launcher program with
# PAYLOAD_FILE (already compressed) as its resource ZUK 137; an empty
# PAYLOAD_FILE gives the launcher without payload.
function(veltrano_setup_executable target payload)
  set(res ${PROJECT_SOURCE_DIR}/res)
  # The launcher's own code is the same in every setup: compiled once, by the
  # first call. msvcrt_compat.c keeps the C runtime's post-2000 imports out of
  # the launcher; it must be linked as an object, not from a library, which
  # an object library does.
  if(NOT TARGET veltrano_launcher_objects)
    add_library(veltrano_launcher_objects OBJECT
      ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/main.cpp ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/msvcrt_compat.c
      ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/terminate.cpp)
    target_link_libraries(veltrano_launcher_objects PRIVATE qor_setup_shell)
    target_include_directories(veltrano_launcher_objects PRIVATE ${res})
  endif()
  set(sources ${res}/setup.rc ${res}/manifest.rc)
  set(generated_res ${CMAKE_BINARY_DIR}/res)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # The 64-bit launcher's manifest differs from the 32-bit one only in the
    # processor it names.
    set(amd64_manifest ${generated_res}/setup-amd64.manifest)
    if(NOT TARGET veltrano_amd64_manifest)
      add_custom_command(OUTPUT ${amd64_manifest}
        COMMAND ${CMAKE_COMMAND} -DIN=${res}/setup.manifest -DOUT=${amd64_manifest}
                -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/AmdManifest.cmake
        DEPENDS ${res}/setup.manifest ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/AmdManifest.cmake
        VERBATIM)
      add_custom_target(veltrano_amd64_manifest DEPENDS ${amd64_manifest})
    endif()
    set_property(SOURCE ${res}/manifest.rc APPEND PROPERTY OBJECT_DEPENDS ${amd64_manifest})
  endif()
  if(payload)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_payload.rc)
    file(GENERATE OUTPUT ${rc} CONTENT "137 ZUK \"${payload}\"\n")
    set_source_files_properties(${rc} PROPERTIES GENERATED TRUE OBJECT_DEPENDS ${payload})
    list(APPEND sources ${rc})
  endif()
  add_executable(${target} WIN32 ${sources})
  target_link_libraries(${target} PRIVATE veltrano_launcher_objects qor_setup_shell)
  target_include_directories(${target} PRIVATE ${res} ${generated_res})
  if(TARGET veltrano_amd64_manifest)
    add_dependencies(${target} veltrano_amd64_manifest)
  endif()
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

# veltrano_brand_setup(TARGET PAYLOAD_FILE [TITLE text] [ICON file] [VERSION_INFO ...]):
# after each link of the payload-less launcher TARGET, the native vtrpack
# stamps PAYLOAD_FILE and the branding into it, in place.
function(veltrano_brand_setup target payload)
  cmake_parse_arguments(ARG "" "TITLE;ICON" "VERSION_INFO" ${ARGN})
  set(options "")
  if(DEFINED ARG_TITLE)
    list(APPEND options --title "${ARG_TITLE}")
  endif()
  if(ARG_ICON)
    get_filename_component(ARG_ICON "${ARG_ICON}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND options --icon "${ARG_ICON}")
  endif()
  foreach(pair IN LISTS ARG_VERSION_INFO)
    list(APPEND options --version-info "${pair}")
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${VELTRANO_VTRPACK_HOST} stamp ${options} $<TARGET_FILE:${target}> ${payload}
            $<TARGET_FILE:${target}>
    COMMENT "Stamping ${payload} and the branding into ${target}"
    VERBATIM)
  # A new payload or icon stamps again; new options change the command.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${payload} ${ARG_ICON})
  add_dependencies(${target} veltrano_host_tools)
endfunction()

function(veltrano_setup target folder output)
  set(sign_values CERTIFICATE KEY PKCS12 PASSWORD_FILE DESCRIPTION)
  cmake_parse_arguments(ARG "" "${sign_values};TITLE;ICON" "DEPENDS;SIGN_OPTIONS;VERSION_INFO"
                        ${ARGN})
  set(payload ${CMAKE_CURRENT_BINARY_DIR}/${target}.zuk)
  veltrano_payload(${target}_payload ${folder} ${payload} DEPENDS ${ARG_DEPENDS})
  if(DEFINED ARG_TITLE OR ARG_ICON OR ARG_VERSION_INFO)
    veltrano_setup_executable(${target} "")
    set(brand_args "")
    foreach(name TITLE ICON)
      if(DEFINED ARG_${name})
        list(APPEND brand_args ${name} "${ARG_${name}}")
      endif()
    endforeach()
    if(ARG_VERSION_INFO)
      list(APPEND brand_args VERSION_INFO ${ARG_VERSION_INFO})
    endif()
    # Stamped before any signing: veltrano_sign's step comes after this one.
    veltrano_brand_setup(${target} ${payload} ${brand_args})
  else()
    veltrano_setup_executable(${target} ${payload})
  endif()
  add_dependencies(${target} ${target}_payload)
  get_filename_component(out_dir ${output} DIRECTORY)
  get_filename_component(out_name ${output} NAME_WE)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${out_name}
    RUNTIME_OUTPUT_DIRECTORY ${out_dir})
  if(ARG_CERTIFICATE OR ARG_KEY OR ARG_PKCS12)
    set(sign_args "")
    foreach(name ${sign_values})
      if(ARG_${name})
        list(APPEND sign_args ${name} "${ARG_${name}}")
      endif()
    endforeach()
    if(ARG_SIGN_OPTIONS)
      list(APPEND sign_args SIGN_OPTIONS ${ARG_SIGN_OPTIONS})
    endif()
    veltrano_sign(${target} ${sign_args})
  endif()
endfunction()
