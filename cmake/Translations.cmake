# The control's catalogs: translations/tavikvendorcomment_LANG.ts, compiled by lrelease into
# build/translations/ and installed beside the IDL text. A host installs the one for its
# language before it creates the control; without one the control shows its English texts.
find_package(Qt6 REQUIRED COMPONENTS LinguistTools)
file(GLOB VC_TS_FILES ${PROJECT_SOURCE_DIR}/translations/*.ts)
set_source_files_properties(${VC_TS_FILES} PROPERTIES
    OUTPUT_LOCATION ${CMAKE_BINARY_DIR}/translations)
qt_add_lrelease(TavikVendorComment TS_FILES ${VC_TS_FILES}
    QM_FILES_OUTPUT_VARIABLE VC_QM_FILES)
install(FILES ${VC_QM_FILES}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/TavikVendorComment/translations)
