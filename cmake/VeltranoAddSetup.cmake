# veltrano_add_setup(<target> FOLDER dir OUTPUT file ARCH x86|x64
#                    [TITLE text] [ICON file.ico] [VERSION_INFO KEY=VALUE...]
#                    [UNATTENDED_ARGUMENTS text]
#                    [SIGN_PKCS12 bundle.p12 | SIGN_CERTIFICATE cert.pem SIGN_KEY key.pem]
#                    [SIGN_PASSWORD_FILE file] [SIGN_DESCRIPTION text]
#                    [SIGN_TIME seconds] [SIGN_OPTIONS ...]
#                    [DEPENDS targets-or-files...])
#
# Makes the setup program OUTPUT (relative to the current binary folder) for
# the launcher flavour ARCH, built by default with the target <target>:
#
#   vtrpack pack FOLDER <target>.zuk                    (in the current binary folder)
#   vtrpack stamp [branding] VeltranoSetupBase.exe <target>.zuk OUTPUT
#   osslsigncode sign ...                               (when a SIGN_ key is given)
#
# Only the native vtrpack and the prebuilt launchers run: no compiler, no
# Wine. FOLDER must hold VTRInstaller.exe and only files. The payload is
# packed again whenever a file of FOLDER changes, appears or goes away (the
# pack step writes a depfile naming the folder and its files); DEPENDS names
# what produces the folder's files during the build, so that packing waits
# for it.
#
# TITLE, ICON, VERSION_INFO and UNATTENDED_ARGUMENTS go to `vtrpack stamp`
# as --title, --icon, --version-info and --unattended-arguments. Each item
# of VERSION_INFO is KEY=VALUE (KEY one of CompanyName, FileDescription,
# FileVersion, LegalCopyright, ProductName, ProductVersion) or a file of
# such lines (blank lines and lines starting with # skipped).
#
# SIGN_PKCS12 (or SIGN_CERTIFICATE with SIGN_KEY, PEM files) signs the setup
# with osslsigncode after stamping; SIGN_PASSWORD_FILE holds the key's
# password, SIGN_DESCRIPTION is the name Windows shows when it asks for
# consent, SIGN_OPTIONS go to `osslsigncode sign` as they are (-ts URL, say).
# SIGN_TIME (seconds since 1970; SOURCE_DATE_EPOCH at configure time when not
# given) fixes the signing time, so that the signed setup is reproducible.
# When signing fails, no setup is left behind.
#
# The target's property VELTRANO_SETUP_FILE holds OUTPUT's full path,
# VELTRANO_PAYLOAD_FILE the payload's.
#
# Where the tools are: the global properties VELTRANO_VTRPACK (the native
# vtrpack), VELTRANO_SETUP_BASE_x86 and VELTRANO_SETUP_BASE_x64 (the
# payload-less launchers) and VELTRANO_TOOL_TARGETS (targets that make them,
# in the build that makes them), set by VeltranoConfig.cmake for an installed
# SDK and by the Veltrano build for its own setups.
include_guard(GLOBAL)
if(CMAKE_VERSION VERSION_LESS 3.21)
  message(FATAL_ERROR "veltrano_add_setup needs CMake 3.21 or later")
endif()

# A function keeps the policies in force where it is defined.
cmake_policy(PUSH)
cmake_policy(VERSION 3.21)

function(veltrano_add_setup target)
  set(values FOLDER OUTPUT ARCH TITLE ICON UNATTENDED_ARGUMENTS SIGN_PKCS12 SIGN_CERTIFICATE SIGN_KEY
             SIGN_PASSWORD_FILE SIGN_DESCRIPTION SIGN_TIME)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "${values}" "VERSION_INFO;SIGN_OPTIONS;DEPENDS")
  set(me "veltrano_add_setup(${target})")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${me}: unknown arguments: ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required FOLDER OUTPUT ARCH)
    if(NOT ARG_${required})
      message(FATAL_ERROR "${me}: ${required} is required")
    endif()
  endforeach()
  if(NOT ARG_ARCH MATCHES "^(x86|x64)$")
    message(FATAL_ERROR "${me}: ARCH is x86 or x64, not \"${ARG_ARCH}\"")
  endif()
  get_property(vtrpack GLOBAL PROPERTY VELTRANO_VTRPACK)
  get_property(base GLOBAL PROPERTY VELTRANO_SETUP_BASE_${ARG_ARCH})
  get_property(tool_targets GLOBAL PROPERTY VELTRANO_TOOL_TARGETS)
  if(NOT vtrpack)
    message(FATAL_ERROR "${me}: no vtrpack: find_package(Veltrano) first")
  endif()
  if(NOT base)
    message(FATAL_ERROR "${me}: this Veltrano SDK holds no ${ARG_ARCH} launcher")
  endif()

  get_filename_component(folder "${ARG_FOLDER}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(output "${ARG_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(output_dir "${output}" DIRECTORY)
  set(payload "${CMAKE_CURRENT_BINARY_DIR}/${target}.zuk")

  # Packing: the depfile names the folder (whose time changes when a file
  # appears or goes away) and each of its files.
  add_custom_command(
    OUTPUT "${payload}"
    COMMAND "${vtrpack}" pack "${folder}" "${payload}"
    COMMAND "${CMAKE_COMMAND}" "-DFOLDER=${folder}" "-DOUTPUT=${payload}"
            "-DDEPFILE=${payload}.d" -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VeltranoPayloadDepfile.cmake"
    DEPENDS "${vtrpack}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VeltranoPayloadDepfile.cmake" ${tool_targets}
            ${ARG_DEPENDS}
    DEPFILE "${payload}.d"
    COMMENT "Packing ${folder} into ${target}.zuk"
    VERBATIM)

  set(options "")
  set(inputs "")
  if(DEFINED ARG_TITLE)
    list(APPEND options --title "${ARG_TITLE}")
  endif()
  if(ARG_ICON)
    get_filename_component(icon "${ARG_ICON}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND options --icon "${icon}")
    list(APPEND inputs "${icon}")
  endif()
  foreach(item IN LISTS ARG_VERSION_INFO)
    if(item MATCHES "=")
      list(APPEND options --version-info "${item}")
      continue()
    endif()
    # A file of KEY=VALUE lines; blank lines and lines starting with # are
    # skipped. Editing it configures again.
    get_filename_component(file "${item}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
      message(FATAL_ERROR "${me}: VERSION_INFO \"${item}\" is neither KEY=VALUE nor a file")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
    file(STRINGS "${file}" lines ENCODING UTF-8)
    foreach(line IN LISTS lines)
      if(line MATCHES "^[ \t]*(#|$)")
        continue()
      elseif(NOT line MATCHES "=")
        message(FATAL_ERROR "${me}: ${file}: \"${line}\" is not KEY=VALUE")
      endif()
      list(APPEND options --version-info "${line}")
    endforeach()
  endforeach()
  if(DEFINED ARG_UNATTENDED_ARGUMENTS)
    list(APPEND options --unattended-arguments "${ARG_UNATTENDED_ARGUMENTS}")
  endif()

  set(sign "")
  if(ARG_SIGN_PKCS12 OR ARG_SIGN_CERTIFICATE OR ARG_SIGN_KEY)
    find_program(VELTRANO_OSSLSIGNCODE osslsigncode)
    if(NOT VELTRANO_OSSLSIGNCODE)
      message(FATAL_ERROR "${me}: osslsigncode not found (set VELTRANO_OSSLSIGNCODE)")
    endif()
    set(sign_args "-DOSSLSIGNCODE=${VELTRANO_OSSLSIGNCODE}" "-DPROGRAM=${output}")
    if(ARG_SIGN_PKCS12 AND NOT ARG_SIGN_CERTIFICATE AND NOT ARG_SIGN_KEY)
      set(files PKCS12)
    elseif(ARG_SIGN_CERTIFICATE AND ARG_SIGN_KEY AND NOT ARG_SIGN_PKCS12)
      set(files CERTIFICATE KEY)
    else()
      message(FATAL_ERROR "${me}: give SIGN_PKCS12, or SIGN_CERTIFICATE and SIGN_KEY")
    endif()
    if(ARG_SIGN_PASSWORD_FILE)
      list(APPEND files PASSWORD_FILE)
    endif()
    foreach(name IN LISTS files)
      get_filename_component(file "${ARG_SIGN_${name}}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
      list(APPEND sign_args "-D${name}=${file}")
      list(APPEND inputs "${file}")
    endforeach()
    if(ARG_SIGN_DESCRIPTION)
      list(APPEND sign_args "-DDESCRIPTION=${ARG_SIGN_DESCRIPTION}")
    endif()
    if(NOT DEFINED ARG_SIGN_TIME)
      set(ARG_SIGN_TIME "$ENV{SOURCE_DATE_EPOCH}")
    endif()
    if(ARG_SIGN_TIME)
      list(APPEND sign_args "-DSIGNING_TIME=${ARG_SIGN_TIME}")
    endif()
    if(ARG_SIGN_OPTIONS)
      # One argument to the script; its semicolons appear only in the command.
      string(REPLACE ";" "$<SEMICOLON>" sign_options "${ARG_SIGN_OPTIONS}")
      list(APPEND sign_args "-DOPTIONS=${sign_options}")
    endif()
    set(sign COMMAND "${CMAKE_COMMAND}" ${sign_args} -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VeltranoSign.cmake")
    list(APPEND inputs "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/VeltranoSign.cmake")
  endif()

  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${output_dir}"
    COMMAND "${vtrpack}" stamp ${options} "${base}" "${payload}" "${output}"
    ${sign}
    DEPENDS "${payload}" "${base}" "${vtrpack}" ${inputs} ${tool_targets}
    COMMENT "Making the setup ${output}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
  set_target_properties(${target} PROPERTIES VELTRANO_SETUP_FILE "${output}"
                                             VELTRANO_PAYLOAD_FILE "${payload}")
endfunction()

cmake_policy(POP)
