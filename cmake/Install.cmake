# Installation: the control library, the host-side library, the public headers, the
# programs, the IDL text and a CMake package, so that a consumer writes
#
#   find_package(TavikVendorComment REQUIRED)
#   target_link_libraries(app PRIVATE TavikVendorComment::TavikVendorComment)
#
# and includes <TavikVendorComment/VendorCommentWidget> (or links TavikVendorComment::Host and
# includes <TavikVendorComment/ComHost.h> to create the control from its program id).

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# A system library directory needs no run path; any other prefix does.
list(FIND CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES ${CMAKE_INSTALL_FULL_LIBDIR} VC_SYSTEM_LIBDIR)

include(${CMAKE_CURRENT_LIST_DIR}/Shell.cmake)

set(VC_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/TavikVendorComment)
set(VC_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/TavikVendorComment)

# The version header, from project(): the one version of the library, the programs and the
# package.
set(VC_VERSION_HEADER ${VC_PUBLIC_INCLUDE_DIR}/TavikVendorComment/tavikvendorcomment_version.h)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tavikvendorcomment_version.h.in ${VC_VERSION_HEADER}
    @ONLY)
list(APPEND VC_PUBLIC_HEADERS ${VC_VERSION_HEADER})

install(TARGETS TavikVendorComment TavikVendorCommentHost
    EXPORT TavikVendorCommentTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Only the public headers, in the product's own folder.
install(FILES ${VC_PUBLIC_HEADERS} DESTINATION ${VC_INSTALL_INCLUDEDIR})

install(FILES ${VC_IDL_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/TavikVendorComment)
install(FILES CHANGELOG.md README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The programs find the installed library beside them; each one's manual page is written
# beside its source.
foreach(program vendor-comment-host vendor-comment-check vendor-comment-server)
    if(TARGET ${program})
        if(VC_SYSTEM_LIBDIR EQUAL -1)
            set_target_properties(${program} PROPERTIES
                INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
        endif()
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
        get_target_property(vc_program_dir ${program} SOURCE_DIR)
        install(FILES ${vc_program_dir}/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
endforeach()

# The server's unit as installed: the team's hardened unit, running the installed program
# on loopback under a dynamic account, since no account or certificate comes with an
# install. Debian 12 keeps units in /lib/systemd/system (debian/rules says so).
if(TARGET vendor-comment-server)
    set(TAVIK_SYSTEMD_UNITDIR lib/systemd/system
        CACHE STRING "Where the server's systemd unit is installed")
    set(vc_unit_source ${PROJECT_SOURCE_DIR}/server/vendor-comment-server.service)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vc_unit_source})
    file(READ ${vc_unit_source} vc_unit)
    string(REGEX REPLACE "\nUser=[^\n]*\nGroup=[^\n]*\n" "\nDynamicUser=yes\n"
        vc_unit "${vc_unit}")
    string(REGEX REPLACE "\nExecStart=([^\n]*\\\\\n)*[^\n]*\n"
        "\nExecStart=${CMAKE_INSTALL_FULL_BINDIR}/vendor-comment-server --db /var/lib/vendor-comment/comments.db --listen 127.0.0.1:8080 --log-format json\n"
        vc_unit "${vc_unit}")
    string(REPLACE "\nAfter=" "\nDocumentation=man:vendor-comment-server(1)\nAfter="
        vc_unit "${vc_unit}")
    if(NOT vc_unit MATCHES "DynamicUser=yes" OR vc_unit MATCHES "/opt/tavik")
        message(FATAL_ERROR "server/vendor-comment-server.service no longer has the User, "
            "Group and ExecStart lines the installed unit replaces")
    endif()
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/systemd/vendor-comment-server.service
        CONTENT "${vc_unit}" @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/systemd/vendor-comment-server.service
        DESTINATION ${TAVIK_SYSTEMD_UNITDIR})
endif()

# pkg-config's view of the control library, for builds that do not use CMake. The prefix
# is the one installed to (cmake --install --prefix, or /usr in the package), so the file
# is written at install time.
set(VC_PC_PREFIX "@VC_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tavikvendorcomment.pc.in
    ${CMAKE_BINARY_DIR}/pkgconfig/tavikvendorcomment.pc.in @ONLY)
install(CODE "
    set(VC_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${CMAKE_BINARY_DIR}/pkgconfig/tavikvendorcomment.pc.in\"
        \"${CMAKE_BINARY_DIR}/pkgconfig/tavikvendorcomment.pc\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/tavikvendorcomment.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(EXPORT TavikVendorCommentTargets
    NAMESPACE TavikVendorComment::
    DESTINATION ${VC_INSTALL_CMAKEDIR})
configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/TavikVendorCommentConfig.cmake.in
    ${CMAKE_BINARY_DIR}/cmake/TavikVendorCommentConfig.cmake
    INSTALL_DESTINATION ${VC_INSTALL_CMAKEDIR}
    PATH_VARS CMAKE_INSTALL_DATADIR TAVIK_TRANSLATIONS_INSTALL_DIR)
write_basic_package_version_file(
    ${CMAKE_BINARY_DIR}/cmake/TavikVendorCommentConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${CMAKE_BINARY_DIR}/cmake/TavikVendorCommentConfig.cmake
    ${CMAKE_BINARY_DIR}/cmake/TavikVendorCommentConfigVersion.cmake
    DESTINATION ${VC_INSTALL_CMAKEDIR})
include(${CMAKE_CURRENT_LIST_DIR}/Docs.cmake)
