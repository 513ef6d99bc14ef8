# The Debian package of the whole project (scripts/package builds it): the control library,
# its headers, CMake and pkg-config files, the Designer plugin, the three programs with their
# manual pages and the server's systemd unit. The pieces outside CPack (manual pages, unit,
# Debian's documentation files) install with a plain install too.

set(VC_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VC_DEB_NAME tavikvendorcomment)

# Manual pages from each program's --help and --version. Not in sanitizer builds, whose
# programs would report at exit what they were never meant to free.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP AND NOT TAVIK_SANITIZE)
    set(vc_man_pages "")
    set(vc_programs vendor-comment-host vendor-comment-check vendor-comment-server)
    set(vc_program_names
        "host the vendor comment control"
        "check a server page against the vendor comment control"
        "reference server page for the vendor comment control")
    foreach(program name IN ZIP_LISTS vc_programs vc_program_names)
        if(NOT TARGET ${program})
            continue()
        endif()
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
        # Run through PATH, so the usage lines name the program and not the build's path.
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -E env "PATH=$<TARGET_FILE_DIR:${program}>:$ENV{PATH}"
                    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/man
                    ${HELP2MAN} --no-info --section=1 "--name=${name}"
                    --output=${page} ${program}
            COMMAND ${GZIP} -9nf ${page}
            DEPENDS ${program}
            COMMENT "Writing the manual page of ${program}")
        list(APPEND vc_man_pages ${page}.gz)
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${vc_man_pages})
    install(FILES ${vc_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The server's unit. Debian 12 keeps units in /lib/systemd/system; scripts/package says so,
# a plain install keeps it below its prefix.
if(TARGET vendor-comment-server)
    set(TAVIK_SYSTEMD_UNITDIR lib/systemd/system
        CACHE STRING "Where the server's systemd unit is installed")
    configure_file(${VC_PACKAGING_DIR}/vendor-comment-server.service.in
        ${CMAKE_BINARY_DIR}/packaging/vendor-comment-server.service @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/vendor-comment-server.service
        DESTINATION ${TAVIK_SYSTEMD_UNITDIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VC_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the Tavik authors")
set(CPACK_PACKAGE_CONTACT "Tavik maintainers <maintainers@users.noreply.c-seed-d1a884ed.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "vendor comment control for Qt 6, with its host, checker and server")
set(CPACK_PACKAGE_DESCRIPTION "The vendor comment control shows the free-text comments that a
server page keeps for one vendor and lets the user add, edit and delete them.
This package holds the control as a Qt widget library with its C++ headers,
CMake and pkg-config files and Qt Designer plugin, and three programs:
vendor-comment-host hosts the control, vendor-comment-check tells whether a
server page fits it, and vendor-comment-server is a reference server page,
with a systemd unit (vendor-comment-server.service, not enabled on install).")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-base-dev, designer-qt6")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# ldconfig through dpkg's trigger; the scripts make systemd see the unit come and go.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${VC_PACKAGING_DIR}/triggers ${VC_PACKAGING_DIR}/postinst ${VC_PACKAGING_DIR}/postrm)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})

# Debian's documentation files, for the package only: the copyright in its machine-readable
# form, the changelog (dated from SOURCE_DATE_EPOCH when set, so rebuilds give the same
# package) and the notes on what lintian reports and why it stays.
if(NOT TAVIK_DEBIAN_FILES)
    include(CPack)
    return()
endif()
string(TIMESTAMP VC_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${VC_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${GZIP} -9nf ${CMAKE_BINARY_DIR}/packaging/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${VC_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${VC_PACKAGING_DIR}/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${VC_DEB_NAME})

include(CPack)
