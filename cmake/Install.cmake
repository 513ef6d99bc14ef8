# Installation: the control library, the host-side library, the public headers, the
# programs, the IDL text and a CMake package, so that a consumer writes
#
#   find_package(TavikVendorComment REQUIRED)
#   target_link_libraries(app PRIVATE TavikVendorComment::TavikVendorComment)
#
# and includes <TavikVendorComment/VendorCommentWidget> (or links TavikVendorComment::Host and
# includes <TavikVendorComment/ComHost.h> to create the control from its program id).

include(${CMAKE_CURRENT_LIST_DIR}/Shell.cmake)

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VC_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/TavikVendorComment)
set(VC_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/TavikVendorComment)

install(TARGETS TavikVendorComment TavikVendorCommentHost
    EXPORT TavikVendorCommentTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Only the public headers, in the product's own folder.
install(FILES ${VC_PUBLIC_HEADERS} DESTINATION ${VC_INSTALL_INCLUDEDIR})

install(FILES ${VC_IDL_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/TavikVendorComment)
install(FILES LICENSE CHANGELOG.md README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The programs find the installed library beside them.
foreach(program vendor-comment-host vendor-comment-check vendor-comment-server)
    if(TARGET ${program})
        set_target_properties(${program} PROPERTIES
            INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

install(EXPORT TavikVendorCommentTargets
    NAMESPACE TavikVendorComment::
    DESTINATION ${VC_INSTALL_CMAKEDIR})
configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/TavikVendorCommentConfig.cmake.in
    ${CMAKE_BINARY_DIR}/cmake/TavikVendorCommentConfig.cmake
    INSTALL_DESTINATION ${VC_INSTALL_CMAKEDIR}
    PATH_VARS CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(
    ${CMAKE_BINARY_DIR}/cmake/TavikVendorCommentConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${CMAKE_BINARY_DIR}/cmake/TavikVendorCommentConfig.cmake
    ${CMAKE_BINARY_DIR}/cmake/TavikVendorCommentConfigVersion.cmake
    DESTINATION ${VC_INSTALL_CMAKEDIR})
