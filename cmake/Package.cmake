# The Debian package: the same files `cmake --install` puts in place, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zuvexport)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zuvexport maintainers <zuvexport@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "copies one survey's interview data from an SQL database into a ZUV file")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries the programs link come from dpkg-shlibdeps; the ODBC
# manager and the two drivers are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc, libsqliteodbc, tdsodbc")
include(CPack)
