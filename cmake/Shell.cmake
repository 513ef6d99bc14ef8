# The library shell's build pieces beside the control library's own sources: the toolbox
# picture compiled in as a Qt resource, the IDL text written
# from the type information, the host-side library and the Qt Designer plugin.

# The toolbox picture (shell/component/TavikVendorComment.qrc) is compiled by rcc.
set_property(TARGET TavikVendorCommentInternal PROPERTY AUTORCC ON)
# The public headers use C++20 (std::span), so consumers compile with it too.
target_compile_features(TavikVendorComment PUBLIC cxx_std_20)
target_compile_features(TavikVendorCommentInternal PUBLIC cxx_std_20)

# The IDL text, written at build time by a small program from the same type information
# the library answers with at run time.
set(VC_SHELL_DIR ${PROJECT_SOURCE_DIR}/src/shell/component)
set(VC_IDL_FILE ${CMAKE_BINARY_DIR}/share/TavikVendorComment.idl)
add_executable(vc-idlgen
    ${VC_SHELL_DIR}/IdlGenerator.cpp ${VC_SHELL_DIR}/Idl.cpp ${VC_SHELL_DIR}/TypeLibrary.cpp)
target_include_directories(vc-idlgen PRIVATE ${VC_PUBLIC_INCLUDE_DIR})
add_dependencies(vc-idlgen TavikVendorCommentInternal)
add_custom_command(OUTPUT ${VC_IDL_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share
    COMMAND vc-idlgen ${VC_IDL_FILE}
    DEPENDS vc-idlgen
    COMMENT "Writing TavikVendorComment.idl")
add_custom_target(TavikVendorComment_idl ALL DEPENDS ${VC_IDL_FILE})

# What a host links to create the control from its program id: it loads the control
# library from the registry at run time and never links it. The type information
# (TypeInfo.h) comes with it, so a host can read it without loading the control.
add_library(TavikVendorCommentHost STATIC ${VC_SHELL_DIR}/ComHost.cpp ${VC_SHELL_DIR}/Registry.cpp
    ${VC_SHELL_DIR}/TypeLibrary.cpp ${VC_SHELL_DIR}/Idl.cpp)
add_library(TavikVendorComment::Host ALIAS TavikVendorCommentHost)
target_include_directories(TavikVendorCommentHost PUBLIC
    $<BUILD_INTERFACE:${VC_PUBLIC_INCLUDE_DIR}>
    PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_features(TavikVendorCommentHost PUBLIC cxx_std_20)
target_link_libraries(TavikVendorCommentHost PRIVATE Qt6::Core ${CMAKE_DL_LIBS})
set_target_properties(TavikVendorCommentHost PROPERTIES EXPORT_NAME Host)

# The Qt Designer plugin.
if(TAVIK_DESIGNER)
    add_subdirectory(${PROJECT_SOURCE_DIR}/designer ${CMAKE_BINARY_DIR}/designer)
endif()
