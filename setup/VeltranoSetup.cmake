# Building setup programs.
#
#   veltrano_setup(TARGET FOLDER OUTPUT_EXE [DEPENDS targets-or-files...]
#                  [TITLE text] [ICON file.ico] [VERSION_INFO KEY=VALUE...]
#                  [CERTIFICATE cert.pem KEY key.pem | PKCS12 bundle.p12]
#                  [PASSWORD_FILE file] [DESCRIPTION text] [SIGN_OPTIONS ...])
#
# makes the setup OUTPUT_EXE of this build's flavour from the files of
# FOLDER, as a product's own build does with the installed SDK: it is
# veltrano_add_setup (cmake/VeltranoAddSetup.cmake) with this build's native
# vtrpack and payload-less launcher. The payload-less launcher is stamped
# with the payload (packed into TARGET.zuk beside) and the branding, then
# signed. FOLDER must hold VTRInstaller.exe, the program the launcher starts
# after extracting. DEPENDS names what produces the folder's files, so that
# the payload is packed after them.
#
# TITLE, ICON and VERSION_INFO brand the setup as `vtrpack stamp` does with
# --title, --icon and --version-info (VERSION_INFO takes any number of
# KEY=VALUE, KEY one of CompanyName, FileDescription, FileVersion,
# LegalCopyright, ProductName, ProductVersion): the same program, byte for
# byte, as `vtrpack stamp --title ... VeltranoSetupBase.exe payload OUT`
# gives.
#
# With a certificate and its key (PEM files), or a PKCS#12 bundle, the setup
# is signed with osslsigncode. PASSWORD_FILE holds the key's password;
# DESCRIPTION is the name shown when Windows asks for consent; SIGN_OPTIONS
# go to `osslsigncode sign` as they are (for example -ts URL for a time
# stamp server). The signing time is VELTRANO_SOURCE_DATE_EPOCH when the
# build has one, so that signed setups are reproducible too.
#
# TARGET is a custom target; its property VELTRANO_SETUP_FILE holds the
# setup's path. Its import table is checked like that of every launcher.
#
# Without CMake, the same result comes from the payload-less launcher that
# every build makes (setup/VeltranoSetupBase.exe) and the payload builder:
#
#   vtrpack pack FOLDER product.zuk
#   vtrpack stamp VeltranoSetupBase.exe product.zuk ProductSetup.exe
#   osslsigncode sign -certs cert.pem -key key.pem -in ProductSetup.exe -out Signed.exe

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/VeltranoAddSetup.cmake)

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
  set(sources ${res}/setup.rc ${res}/manifest.rc ${res}/version.rc)
  set(generated_res ${CMAKE_BINARY_DIR}/res)
  # The version resource carries the project's version.
  foreach(part MAJOR MINOR PATCH)
    set(VELTRANO_VERSION_${part} ${PROJECT_VERSION_${part}})
    if(NOT VELTRANO_VERSION_${part})
      set(VELTRANO_VERSION_${part} 0)
    endif()
  endforeach()
  configure_file(${res}/version.h.in ${generated_res}/version.h @ONLY)
  set_property(SOURCE ${res}/version.rc APPEND PROPERTY OBJECT_DEPENDS ${generated_res}/version.h)
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

function(veltrano_setup target folder output)
  set(sign_values CERTIFICATE KEY PKCS12 PASSWORD_FILE DESCRIPTION)
  cmake_parse_arguments(ARG "" "${sign_values};TITLE;ICON" "DEPENDS;SIGN_OPTIONS;VERSION_INFO"
                        ${ARGN})
  set(args FOLDER ${folder} OUTPUT ${output} ARCH ${VELTRANO_FLAVOUR} DEPENDS ${ARG_DEPENDS})
  foreach(name TITLE ICON)
    if(DEFINED ARG_${name})
      list(APPEND args ${name} "${ARG_${name}}")
    endif()
  endforeach()
  if(ARG_VERSION_INFO)
    list(APPEND args VERSION_INFO ${ARG_VERSION_INFO})
  endif()
  if(ARG_CERTIFICATE OR ARG_KEY OR ARG_PKCS12)
    foreach(name ${sign_values})
      if(ARG_${name})
        list(APPEND args SIGN_${name} "${ARG_${name}}")
      endif()
    endforeach()
    list(APPEND args SIGN_TIME "${VELTRANO_SOURCE_DATE_EPOCH}")
    if(ARG_SIGN_OPTIONS)
      list(APPEND args SIGN_OPTIONS ${ARG_SIGN_OPTIONS})
    endif()
  endif()
  veltrano_add_setup(${target} ${args})
  veltrano_shipped_program(${target})
  veltrano_launcher_program(${target})
  veltrano_check_dll_allowlist(${target})
endfunction()
