# The Debian package of the app and the tools, made by CPack's DEB generator
# (scripts/package runs it): klt_<version>_<arch>.deb.

set(KLT_MAINTAINER "KLT developers <maintainers@kltproject.example>")

# Debian wants the copyright and a changelog whose top entry is the packaged version.
set(KLT_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")
file(STRINGS "${KLT_PACKAGING_DIR}/changelog" klt_changelog_head LIMIT_COUNT 1)
if(NOT klt_changelog_head MATCHES "^klt \\(${PROJECT_VERSION}\\) ")
    message(WARNING "packaging/changelog does not start with an entry for ${PROJECT_VERSION}: "
                    "add one before packaging")
endif()
if(UNIX)
    set(klt_changelog_gz "${PROJECT_BINARY_DIR}/packaging/changelog.gz")
    add_custom_command(OUTPUT "${klt_changelog_gz}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/packaging"
        COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh "${KLT_PACKAGING_DIR}/changelog"
                "${klt_changelog_gz}"
        DEPENDS "${KLT_PACKAGING_DIR}/changelog"
        VERBATIM)
    add_custom_target(package-changelog ALL DEPENDS "${klt_changelog_gz}")
    install(FILES "${KLT_PACKAGING_DIR}/copyright" "${klt_changelog_gz}"
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/klt)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME klt)
set(CPACK_PACKAGE_VENDOR "KLT developers")
set(CPACK_PACKAGE_CONTACT "${KLT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "receive, view, save and print a machine's operation history")
set(CPACK_PACKAGE_DESCRIPTION_FILE "${KLT_PACKAGING_DIR}/description")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/cpack")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KLT_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries' packages are found by dpkg-shlibdeps; the view and the prints need the
# Japanese font, and Qt's Japanese texts make the standard buttons read in Japanese.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
