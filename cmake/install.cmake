# What `cmake --install` puts in place, the package files that find it again
# (pkg-config, CMake config) and the Debian package (`cpack -G DEB`).
include(CMakePackageConfigHelpers)

set(ORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrvaneCom)
set(ORVANE_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set_target_properties(OrvaneCom PROPERTIES EXPORT_NAME OrvaneCom)
set_target_properties(orvane PROPERTIES EXPORT_NAME OrvaneComStatic)
install(TARGETS OrvaneCom orvane orvane_api EXPORT OrvaneComTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/orvane.h capi/include/orvane_api.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(TARGET orvane_cli)
  install(TARGETS orvane_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/orvane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# CMake: find_package(OrvaneCom CONFIG) gives OrvaneCom::OrvaneCom (the eight
# exports), OrvaneCom::OrvaneComStatic and OrvaneCom::Api (the C API).
install(EXPORT OrvaneComTargets NAMESPACE OrvaneCom:: DESTINATION ${ORVANE_CMAKE_DIR})
configure_package_config_file(cmake/OrvaneComConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/OrvaneComConfig.cmake INSTALL_DESTINATION ${ORVANE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OrvaneComConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OrvaneComConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/OrvaneComConfigVersion.cmake
        DESTINATION ${ORVANE_CMAKE_DIR})

# pkg-config: orvanecom (the eight exports) and orvane-api (the C API). The
# prefix is found from the file's own place, so an unpacked tree works too.
file(RELATIVE_PATH ORVANE_PC_TO_PREFIX /${ORVANE_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" ORVANE_PC_TO_PREFIX "${ORVANE_PC_TO_PREFIX}")
foreach(pc orvanecom orvane-api)
  configure_file(cmake/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${ORVANE_PKGCONFIG_DIR})
endforeach()

# The Debian package: everything above in one package, dependencies from
# dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvanecom)
set(CPACK_PACKAGE_VENDOR "OrvaneCom developers")
set(CPACK_PACKAGE_CONTACT "OrvaneCom developers <orvanecom@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fingerprint feature extraction and matching library")
set(CPACK_PACKAGE_DESCRIPTION "Extracts minutia templates from 8-bit grey fingerprint images, \
compares them, rates image quality and searches galleries; shared and static libraries, \
a reentrant C API, headers, pkg-config and CMake files, and the orvane command-line tool.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
include(CPack)
