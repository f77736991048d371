# The Debian package, made by CPack: scripts/package.sh builds it.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Dorvane maintainers")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "Dorvane maintainers <maintainers@users.noreply.c-seed-4e67e7d1.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file server for the Commodore 64 over RS-232")
# CPack puts the summary first and indents each line of the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Dorvane lends a directory of this computer to a Commodore 64 over an RS-232
cable at 115200 baud. The C64 uses it like a disk drive: it loads and saves
files, loads the directory as a BASIC listing, and sends disk commands to
change the drive or the directory, delete, make a directory and rename.

The package holds the operator's window (dorvane), the same server without a
window (dorvaned) with a systemd service per serial device, and dorvane-peer,
which plays the C64's side to check a cable and a server.")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the libraries' packages; the maintainer scripts need adduser,
# and deb-systemd-invoke of init-system-helpers to stop and restart the service.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, init-system-helpers (>= 1.54~)")
if(DORVANE_BUILD_UI)
  # Qt loads the window system's plugin at run time, so the libraries found do not
  # name it: without it the window cannot start at all.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
# Only the package's own directories; /usr, /etc and the like belong to the system.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

configure_file(${CMAKE_SOURCE_DIR}/data/debian/conffiles.in ${CMAKE_BINARY_DIR}/debian/conffiles
               @ONLY)
file(COPY ${CMAKE_SOURCE_DIR}/data/debian/postinst ${CMAKE_SOURCE_DIR}/data/debian/prerm
          ${CMAKE_SOURCE_DIR}/data/debian/postrm
     DESTINATION ${CMAKE_BINARY_DIR}/debian
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                      WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/debian/postinst ${CMAKE_BINARY_DIR}/debian/prerm
    ${CMAKE_BINARY_DIR}/debian/postrm ${CMAKE_BINARY_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# The changelog a Debian package carries, dated with the release.
execute_process(COMMAND date -u -R -d "${DORVANE_RELEASE_DATE}"
                OUTPUT_VARIABLE DORVANE_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)
configure_file(${CMAKE_SOURCE_DIR}/data/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog
               @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nfk changelog
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/debian)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/dorvane)
install(FILES ${CMAKE_SOURCE_DIR}/data/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME dorvane)

include(CPack)
