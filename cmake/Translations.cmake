# The control's catalogs: translations/tavikvendorcomment_LANG.ts, written by lupdate from the
# texts the sources mark with TAVIK_TR (the translations_update target) and compiled by
# lrelease into build/translations/. The library carries them as resources, for
# tavik::installTranslator(); they are also installed as files, in
# TAVIK_TRANSLATIONS_INSTALL_DIR, for hosts that load catalogs themselves (the CMake package
# names that folder TavikVendorComment_TRANSLATIONS_DIR, the pkg-config file translationsdir).
include(GNUInstallDirs)
find_package(Qt6 REQUIRED COMPONENTS LinguistTools)

set(TAVIK_TRANSLATIONS_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/TavikVendorComment/translations
    CACHE STRING "Where the catalogs (.qm) are installed, below the prefix")

file(GLOB VC_TS_FILES ${PROJECT_SOURCE_DIR}/translations/*.ts)
set_source_files_properties(${VC_TS_FILES} PROPERTIES
    OUTPUT_LOCATION ${CMAKE_BINARY_DIR}/translations)
qt_add_lrelease(TavikVendorComment TS_FILES ${VC_TS_FILES}
    QM_FILES_OUTPUT_VARIABLE VC_QM_FILES)
qt_add_resources(TavikVendorCommentInternal vc_catalogs
    PREFIX /TavikVendorComment/translations
    BASE ${CMAKE_BINARY_DIR}/translations
    FILES ${VC_QM_FILES})
install(FILES ${VC_QM_FILES} DESTINATION ${TAVIK_TRANSLATIONS_INSTALL_DIR})

add_custom_target(translations_update
    COMMAND ${CMAKE_COMMAND} -DLUPDATE=$<TARGET_FILE:Qt6::lupdate>
            -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/Lupdate.cmake
    COMMENT "Updating the catalogs from the marked texts"
    VERBATIM)
if(TAVIK_TESTS)
    # Fails when a marked text has no finished translation, or a catalog keeps a text that
    # is gone.
    add_test(NAME catalogs_match_the_marked_texts
        COMMAND ${CMAKE_COMMAND} -DLUPDATE=$<TARGET_FILE:Qt6::lupdate>
                -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DCHECK_DIR=${CMAKE_BINARY_DIR}/catalog-check
                -P ${CMAKE_CURRENT_LIST_DIR}/Lupdate.cmake)
endif()
