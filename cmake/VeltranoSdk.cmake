# The SDK that packagers install: `cmake --install` of a build, and the
# packages cpack makes from it (veltrano-sdk_<version>_amd64.deb, and
# veltrano-sdk-<version>-windows.zip for Windows build machines).
#
#   bin/vtrpack                                   the native tool       (component native)
#   share/man/man1/vtrpack.1.gz                   its manual            (native)
#   share/doc/veltrano-sdk/                       copyright, changelog  (native)
#   share/lintian/overrides/veltrano-sdk          why libbz2 is built in (native)
#   share/veltrano/<flavour>/VeltranoSetupBase.exe  the launcher          (bases)
#   share/veltrano/windows/vtrpack.exe, vtrdiag.exe the Windows tools     (windows, 32-bit build only)
#   lib/cmake/Veltrano/                           the CMake package     (cmake)
#
# Each build installs its own flavour's launcher; installing both builds into
# one prefix gives the whole SDK. The Windows tools are the 32-bit ones,
# which run on every Windows. cpack in one build folder takes the other
# flavour's launcher (and Windows tools) from VELTRANO_SDK_SIBLING_BUILD
# (the presets name each other's folder): see sdk/CPackProjectConfig.cmake.in.
include(CMakePackageConfigHelpers)

set(VELTRANO_SDK_SIBLING_BUILD "" CACHE PATH
  "The other flavour's build folder, whose launcher the packages take too")
set(VELTRANO_SDK_MAINTAINER "Qor Inc. <veltrano@qorinc.example>" CACHE STRING
  "Maintainer of the SDK's Debian package")

set(VELTRANO_SDK_STAGE ${CMAKE_BINARY_DIR}/sdk)
set(VELTRANO_SDK_BIN_DIR bin)
set(VELTRANO_SDK_DATA_DIR share/veltrano)
set(VELTRANO_SDK_WINDOWS_DIR share/veltrano/windows)
set(VELTRANO_SDK_CMAKE_DIR lib/cmake/Veltrano)
set(VELTRANO_SDK_DOC_DIR share/doc/veltrano-sdk)

# The native tool, stripped (tools/host builds it for the build's own use).
find_program(VELTRANO_HOST_STRIP NAMES strip)
find_program(VELTRANO_GZIP NAMES gzip)
if(NOT VELTRANO_HOST_STRIP OR NOT VELTRANO_GZIP)
  message(FATAL_ERROR "strip or gzip missing: run scripts/setup.sh")
endif()

# The changelog's date: VELTRANO_SOURCE_DATE_EPOCH's when set, so that
# packages are reproducible.
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(VELTRANO_SOURCE_DATE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} ${VELTRANO_SOURCE_DATE_EPOCH})
endif()
string(TIMESTAMP VELTRANO_SDK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP VELTRANO_SDK_YEAR "%Y" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
configure_file(${CMAKE_SOURCE_DIR}/docs/vtrpack.1.in ${VELTRANO_SDK_STAGE}/vtrpack.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/sdk/changelog.in ${VELTRANO_SDK_STAGE}/changelog @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/sdk/copyright.in ${VELTRANO_SDK_STAGE}/copyright @ONLY)
add_custom_command(
  OUTPUT ${VELTRANO_SDK_STAGE}/vtrpack ${VELTRANO_SDK_STAGE}/vtrpack.1.gz ${VELTRANO_SDK_STAGE}/changelog.gz
  COMMAND ${VELTRANO_HOST_STRIP} -R .comment -o ${VELTRANO_SDK_STAGE}/vtrpack ${VELTRANO_VTRPACK_HOST}
  COMMAND ${VELTRANO_GZIP} -9nkf ${VELTRANO_SDK_STAGE}/vtrpack.1
  COMMAND ${VELTRANO_GZIP} -9nkf ${VELTRANO_SDK_STAGE}/changelog
  DEPENDS veltrano_host_tools ${VELTRANO_VTRPACK_HOST} ${VELTRANO_SDK_STAGE}/vtrpack.1 ${VELTRANO_SDK_STAGE}/changelog
  COMMENT "Preparing the SDK's native tool and manual"
  VERBATIM)
add_custom_target(veltrano_sdk ALL DEPENDS ${VELTRANO_SDK_STAGE}/vtrpack ${VELTRANO_SDK_STAGE}/vtrpack.1.gz ${VELTRANO_SDK_STAGE}/changelog.gz)

install(PROGRAMS ${VELTRANO_SDK_STAGE}/vtrpack DESTINATION ${VELTRANO_SDK_BIN_DIR} COMPONENT native)
install(FILES ${VELTRANO_SDK_STAGE}/vtrpack.1.gz DESTINATION share/man/man1 COMPONENT native)
install(FILES ${VELTRANO_SDK_STAGE}/copyright ${VELTRANO_SDK_STAGE}/changelog.gz
        DESTINATION ${VELTRANO_SDK_DOC_DIR} COMPONENT native)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/sdk/lintian-overrides DESTINATION share/lintian/overrides
        RENAME veltrano-sdk COMPONENT native)

# Windows programs are data on the build machine: no execute bits.
install(FILES $<TARGET_FILE:VeltranoSetupBase>
        DESTINATION ${VELTRANO_SDK_DATA_DIR}/${VELTRANO_FLAVOUR} COMPONENT bases)
if(VELTRANO_FLAVOUR STREQUAL "x86")
  install(FILES $<TARGET_FILE:vtrpack> $<TARGET_FILE:vtrdiag>
          DESTINATION ${VELTRANO_SDK_WINDOWS_DIR} COMPONENT windows)
endif()

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VeltranoConfig.cmake.in
  ${VELTRANO_SDK_STAGE}/VeltranoConfig.cmake
  INSTALL_DESTINATION ${VELTRANO_SDK_CMAKE_DIR}
  PATH_VARS VELTRANO_SDK_BIN_DIR VELTRANO_SDK_DATA_DIR VELTRANO_SDK_WINDOWS_DIR
  NO_SET_AND_CHECK_MACRO)
# A tool package: any consumer, whatever its pointer size.
write_basic_package_version_file(${VELTRANO_SDK_STAGE}/VeltranoConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${VELTRANO_SDK_STAGE}/VeltranoConfig.cmake ${VELTRANO_SDK_STAGE}/VeltranoConfigVersion.cmake
              ${CMAKE_SOURCE_DIR}/cmake/VeltranoAddSetup.cmake
              ${CMAKE_SOURCE_DIR}/cmake/VeltranoPayloadDepfile.cmake
              ${CMAKE_SOURCE_DIR}/cmake/VeltranoSign.cmake
        DESTINATION ${VELTRANO_SDK_CMAKE_DIR} COMPONENT cmake)

# Packages.
set(CPACK_PACKAGE_NAME veltrano-sdk)
set(CPACK_PACKAGE_VENDOR "Qor Inc.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Veltrano setup launcher SDK: payload builder and launchers")
set(CPACK_PACKAGE_DESCRIPTION
  "Builds the setup programs of Windows products from a folder of their files,\n"
  "on Linux, with no Windows compiler: the payload builder vtrpack packs the\n"
  "folder and stamps it, with the product's title, icon and version\n"
  "information, into the prebuilt Veltrano setup launcher (32-bit and 64-bit).\n"
  "A CMake package (find_package(Veltrano), veltrano_add_setup) does the same\n"
  "in a product's build, and signs the setup with osslsigncode.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "${VELTRANO_SDK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTRANO_SDK_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS cmake)
set(CPACK_STRIP_FILES OFF)
set(CPACK_GENERATOR DEB ZIP)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
configure_file(${CMAKE_SOURCE_DIR}/cmake/sdk/CPackProjectConfig.cmake.in
  ${VELTRANO_SDK_STAGE}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${VELTRANO_SDK_STAGE}/CPackProjectConfig.cmake)
include(CPack)
