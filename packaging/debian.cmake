# The Debian package, built from the build folder by `cpack -G DEB`.
set(SORVI_PACKAGE_MAINTAINER "SorviClean maintainers <maintainers@sorvi.vn>"
    CACHE STRING "Maintainer field of the Debian package")

# The release list of the metainfo is the one place that dates a version; a version without an
# entry there would ship a package whose software-centre page names an older release.
file(READ ${PROJECT_SOURCE_DIR}/data/vn.sorvi.SorviClean.metainfo.xml sorvi_metainfo)
if(NOT sorvi_metainfo MATCHES "<release version=\"${PROJECT_VERSION}\" date=\"([0-9-]+)\"")
  message(FATAL_ERROR "data/vn.sorvi.SorviClean.metainfo.xml has no <release> for version "
                      "${PROJECT_VERSION}: add one (with its date) before packaging this version")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C TZ=UTC date -R -d ${CMAKE_MATCH_1}
                OUTPUT_VARIABLE SORVI_RELEASE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)

# Debian wants the changelog compressed with the highest level and no timestamp in the header.
set(generated ${CMAKE_CURRENT_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${generated}/changelog @ONLY)
execute_process(COMMAND gzip -9 -n -c ${generated}/changelog OUTPUT_FILE ${generated}/changelog.gz
                COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${generated}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sorviclean)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sorviclean)
set(CPACK_PACKAGE_VENDOR Sorvi)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "clean junk files, uninstall applications, watch the system")
set(CPACK_PACKAGE_DESCRIPTION
    "SorviClean reclaims disk space in the home folder: it scans six categories\n"
    "of junk (application caches, logs, developer caches, the Trash, device\n"
    "backups and large files) and removes only the items the user ticks, each\n"
    "one checked against the folders its category may touch. It also uninstalls\n"
    "Flatpak applications, AppImages and programs installed in the home folder\n"
    "together with their leftovers, shows a live system monitor and tells when\n"
    "a newer version is published. Its interface is in Vietnamese.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SORVI_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Libraries come from dpkg-shlibdeps; listed here is only what the program loads without
# linking it: Qt's image-format plugins (application bundles' .icns icons) and an icon theme.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins, adwaita-icon-theme")
# Opening web pages and folders goes through xdg-open; Wayland sessions use Qt's Wayland plugin;
# an empty category shows a colour emoji.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-wayland, fonts-noto-color-emoji")
include(CPack)
