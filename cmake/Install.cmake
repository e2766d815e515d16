# Install rules shared by the app and the tools. A new program installs with one line in its
# own CMakeLists.txt: klt_install_program(<target>), its manual page being docs/man/<target>.1.
# A systemd unit installs with
#   install(FILES <name>.service DESTINATION ${KLT_SYSTEMD_UNIT_DIR})

set(KLT_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where systemd units are installed, relative to the install prefix")
set(KLT_MAN_DIR "${PROJECT_SOURCE_DIR}/docs/man")

# Installs docs/man/<name>.1 into section 1, gzipped without a timestamp as Debian wants.
function(klt_install_man name)
    if(NOT UNIX)
        return()
    endif()
    set(page "${KLT_MAN_DIR}/${name}.1")
    set(packed "${PROJECT_BINARY_DIR}/man/${name}.1.gz")
    add_custom_command(OUTPUT "${packed}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/man"
        COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh "${page}" "${packed}"
        DEPENDS "${page}"
        COMMENT "Compressing the manual page ${name}.1"
        VERBATIM)
    add_custom_target(man-${name} ALL DEPENDS "${packed}")
    install(FILES "${packed}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# Installs a program and its manual page.
function(klt_install_program target)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    klt_install_man(${target})
endfunction()
