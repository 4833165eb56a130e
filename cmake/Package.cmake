# The Debian package: the same files `cmake --install` puts in place, under
# /usr, plus what Debian's checker `lintian` asks of a package.
set(ZUVEXPORT_PACKAGE_MAINTAINER "zuvexport developers <zuvexport@users.noreply.github.com>"
    CACHE STRING "Maintainer field of the Debian package: name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zuvexport)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZUVEXPORT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "copies one survey's interview data from an SQL database into a ZUV file")
# CPack indents each line of this into the control file's extended
# description, an empty line separating paragraphs.
set(CPACK_PACKAGE_DESCRIPTION
    "zuvexport reads the interviews of one survey from a source SQL database
(SQL Server, or a SQLite database) through unixODBC and writes them into a
ZUV file, a SQLite file holding the questionnaire and the response tables.
The source holds the survey in the legacy layout (one wide table per
response table) or the new one (one row per stored value). Progress goes to
the console, a Boost.Interprocess message queue or a named pipe.

The package also holds zuvsample, which writes a sample survey and its source
database, and zuvwatch, which follows an export's progress as a controlling
program would.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries the programs link come from dpkg-shlibdeps; the ODBC
# manager and the two drivers are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc, libsqliteodbc, tdsodbc")

# Stripped as dh_strip does: CMake's plain strip, then the compilers' notes.
set(CPACK_STRIP_FILES ON)
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program zuvexport zuvsample zuvwatch)
      set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
      if(EXISTS \"\${file}\")
        execute_process(
          COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note \"\${file}\"
          COMMAND_ERROR_IS_FATAL ANY)
      endif()
    endforeach()
  endif()")

# The version packaged is a native one (no Debian revision), so its
# changelog is changelog.gz; its newest entry must be that version.
set(changelog ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)
file(STRINGS ${changelog} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^zuvexport \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: add an entry for version ${PROJECT_VERSION}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
add_custom_target(zuv_changelog ALL)
zuv_gzip(zuv_changelog ${changelog} ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# What only the package holds: `cpack` installs this component besides the
# default one, `cmake --install` does not.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME zuvexport
        COMPONENT debian EXCLUDE_FROM_ALL)
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};debian;/")
include(CPack)
