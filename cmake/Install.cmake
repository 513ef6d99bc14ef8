# Installation: the control library, the host-side library, the public headers, the
# programs, the IDL text and a CMake package, so that a consumer writes
#
#   find_package(TavikVendorComment REQUIRED)
#   target_link_libraries(app PRIVATE TavikVendorComment::TavikVendorComment)
#
# and includes "shell/VendorCommentWidget.h" (or links TavikVendorComment::Host and
# includes "shell/ComHost.h" to create the control from its program id).

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
    INCLUDES DESTINATION ${VC_INSTALL_INCLUDEDIR})

# The headers keep their folders, so the relative includes between them resolve: the
# widget's header reaches the control's, and that one the platform seam's.
install(FILES
    src/shell/TavikVendorComment.h
    src/shell/TypeInfo.h
    src/shell/Guid.h
    src/shell/ComHost.h
    src/shell/Registry.h
    src/shell/VendorCommentWidget.h
    DESTINATION ${VC_INSTALL_INCLUDEDIR}/shell)
install(FILES src/control/VendorComment.h DESTINATION ${VC_INSTALL_INCLUDEDIR}/control)
install(FILES
    src/platform/Form.h
    src/platform/Inet.h
    src/platform/Widgets.h
    src/platform/Locale.h
    DESTINATION ${VC_INSTALL_INCLUDEDIR}/platform)

install(FILES ${VC_IDL_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/TavikVendorComment)

# The programs find the installed library beside them.
foreach(program vendor-comment-host vendor-comment-server)
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
