# The Debian package: `cpack -G DEB` in the build folder packs what `cmake --install` lays out
# under /usr into pindle-capture_<version>_amd64.deb, its library dependencies found by
# dpkg-shlibdeps.

include(GNUInstallDirs)
set(PINDLE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/pindle-capture)
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright DESTINATION ${PINDLE_DOC_DIR})
# Debian keeps a package's change log compressed, without a time stamp in the gzip header.
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/resources/debian/changelog
        > ${PROJECT_BINARY_DIR}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/debian/changelog)
add_custom_target(pindle-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${PINDLE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pindle-capture)
set(CPACK_PACKAGE_VENDOR "Pindle Capture developers")
set(CPACK_PACKAGE_CONTACT "Pindle Capture developers <support@pindle.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://pindle.com/capture")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "record part of the screen as a GIF, MP4 or JPEG")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pindle Capture lays a see-through capture window over any part of the screen
and records it into a rolling buffer, so the last 30 seconds can be kept at any
moment. Captures land in a library, from where an editor trims them, chooses a
loop, size and frame rate, adds animated captions and a watermark, and saves a
GIF, an MP4 or JPEG files. The same engine runs without a window from the
command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads these as plug-ins, which dpkg-shlibdeps cannot see: the SVG window icon, WebP
# watermarks and the Wayland window system.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6, qt6-image-formats-plugins, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
