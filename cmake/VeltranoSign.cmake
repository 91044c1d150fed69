# Signs a Windows program with osslsigncode (Authenticode), in CMake's script
# mode, so that the build and the tests sign the same way:
#
#   cmake -DPROGRAM=setup.exe [-DOUTPUT=signed.exe]
#         (-DCERTIFICATE=cert.pem -DKEY=key.pem | -DPKCS12=bundle.p12)
#         [-DPASSWORD_FILE=file] [-DDESCRIPTION=text] [-DSIGNING_TIME=unix-time]
#         [-DOPTIONS=more;osslsigncode;options] [-DOSSLSIGNCODE=path]
#         -P VeltranoSign.cmake
#
# Without OUTPUT the program is signed in place. The password is read from a
# file, so that it never shows in a command line or a build file. With
# SIGNING_TIME the signature is the same from one build to the next. On any
# failure nothing signed is left behind, and a program that was to be signed
# in place is removed, so that the next build makes and signs it again.
foreach(required PROGRAM)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "VeltranoSign.cmake: ${required} is not set")
  endif()
endforeach()
if(NOT OUTPUT)
  set(OUTPUT "${PROGRAM}")
endif()
if(NOT OSSLSIGNCODE)
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found: run scripts/setup.sh")
  endif()
endif()

set(args sign)
if(PKCS12)
  list(APPEND args -pkcs12 "${PKCS12}")
elseif(CERTIFICATE AND KEY)
  list(APPEND args -certs "${CERTIFICATE}" -key "${KEY}")
else()
  message(FATAL_ERROR "VeltranoSign.cmake: give CERTIFICATE and KEY, or PKCS12")
endif()
if(PASSWORD_FILE)
  list(APPEND args -readpass "${PASSWORD_FILE}")
endif()
if(DESCRIPTION)
  list(APPEND args -n "${DESCRIPTION}")
endif()
if(SIGNING_TIME)
  list(APPEND args -time "${SIGNING_TIME}")
endif()
list(APPEND args ${OPTIONS})

set(partial "${OUTPUT}.signing")
file(REMOVE "${partial}")
execute_process(
  COMMAND "${OSSLSIGNCODE}" ${args} -in "${PROGRAM}" -out "${partial}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE "${partial}")
  if(OUTPUT STREQUAL PROGRAM)
    file(REMOVE "${PROGRAM}")
  endif()
  string(STRIP "${output}" output)
  message(FATAL_ERROR "cannot sign ${PROGRAM}:\n${output}")
endif()
file(RENAME "${partial}" "${OUTPUT}")
file(CHMOD "${OUTPUT}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
