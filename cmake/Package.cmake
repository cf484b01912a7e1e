# The Debian package, built by scripts/package with CPack's DEB generator. CPack packs exactly
# what the install() rules install (TestInstall checks those), takes the version from project()
# and builds from the same Release tree as scripts/run; a debian/ folder with debhelper would
# describe the files, the version and the build a second time and build in a tree of its own.
# What debhelper would add by itself is done here: compressed man pages and changelog, the
# copyright file, stripped programs, dependencies from dpkg-shlibdeps.

# The newest release in the software catalogues' file dates the package's changelog; both
# must name this version.
set(quaddle_metainfo ${PROJECT_SOURCE_DIR}/data/org.example.quaddle.metainfo.xml)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${quaddle_metainfo})
file(READ ${quaddle_metainfo} metainfo)
if(NOT metainfo MATCHES "<release version=\"([^\"]*)\" date=\"([^\"]*)\"")
    message(FATAL_ERROR "${quaddle_metainfo} names no release")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "The newest release in ${quaddle_metainfo} is ${CMAKE_MATCH_1}, "
                        "the project's version ${PROJECT_VERSION}: add a <release> for it")
endif()
execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_2} 12:00" OUTPUT_VARIABLE release_date
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(quaddle_maintainer "The Quaddle developers <author@quaddle.example.org>")
file(WRITE ${PROJECT_BINARY_DIR}/changelog
"quaddle (${PROJECT_VERSION}) unstable; urgency=medium

  * Quaddle ${PROJECT_VERSION}.

 -- ${quaddle_maintainer}  ${release_date}
")
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/changelog COMMAND_ERROR_IS_FATAL ANY)

# The hardening Debian builds its packages with (as dpkg-buildflags gives it): checked buffer
# functions, stack guards, and a Global Offset Table made read-only once loaded.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
    add_compile_options(-D_FORTIFY_SOURCE=2 -fstack-protector-strong)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

set(quaddle_docdir ${CMAKE_INSTALL_DATADIR}/doc/quaddle)
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${quaddle_docdir})
install(FILES ${quaddle_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quaddle)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${quaddle_maintainer})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quaddle.example.org/)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"upload files to your own web server and get their addresses
Quaddle puts files, photos and screenshots on your own web server by FTP,
FTPS or SFTP and hands back the web addresses they can be reached at: bare,
or as BBCode, HTML or Markdown tags, optionally with thumbnails.
.
SFTP goes through OpenSSH's ssh, with the user's own configuration, keys
and agent. quaddle-cli does the same uploads from the command line, without
windows, for scripts and servers without a desktop.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the program loads or runs but does not link, so dpkg-shlibdeps cannot see it:
# - the history is SQLite through Qt's SQL driver plugin;
# - SFTP goes through OpenSSH's ssh by default.
# Qt's X11 platform plugin and its JPEG and GIF readers come with libqt6gui6, its TLS plugin
# with libqt6network6, both linked.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, openssh-client")
# Found together with the program in all but unusual installations:
# - on Wayland, wl-copy keeps the copied addresses after the program ends;
# - on Wayland, screenshots can only be taken through the desktop's portal;
# - FTPS certificates are checked against the system's certificate authorities.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wl-clipboard, xdg-desktop-portal, ca-certificates")
# Only for servers the user switches to PuTTY's psftp, or keys in PuTTY's format.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "putty-tools")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
