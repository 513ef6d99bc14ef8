# The `docs` target: the API documentation of the public headers with Doxygen, in
# build/docs/html, and build/docs/TavikVendorComment.qch for Qt Creator when Qt's
# qhelpgenerator is installed. Not part of the default build.
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
    return()
endif()
find_program(VC_QHELPGENERATOR qhelpgenerator
    HINTS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_LIBEXECS} /usr/lib/qt6/libexec)
if(VC_QHELPGENERATOR)
    set(VC_DOCS_QHP YES)
else()
    set(VC_DOCS_QHP NO)
    set(VC_QHELPGENERATOR "")
endif()

set(VC_DOCS_DIR ${CMAKE_BINARY_DIR}/docs)
# The headers as they are installed: the sources, the version header; not the export macros.
set(VC_DOCS_HEADERS ${VC_PUBLIC_HEADERS})
list(FILTER VC_DOCS_HEADERS INCLUDE REGEX "\\.h$")
list(FILTER VC_DOCS_HEADERS EXCLUDE REGEX "_export\\.h$")
# Doxygen reads copies laid out as they are installed, so the pages say
# #include <TavikVendorComment/...> and name no folder of the build machine.
set(VC_DOCS_INCLUDE_DIR ${VC_DOCS_DIR}/include)
set(VC_DOCS_INPUT "")
foreach(header ${VC_DOCS_HEADERS})
    get_filename_component(name ${header} NAME)
    configure_file(${header} ${VC_DOCS_INCLUDE_DIR}/TavikVendorComment/${name} COPYONLY)
    string(APPEND VC_DOCS_INPUT " ${VC_DOCS_INCLUDE_DIR}/TavikVendorComment/${name}")
endforeach()
set(VC_DOCS_STRIP ${VC_DOCS_INCLUDE_DIR}/TavikVendorComment)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${VC_DOCS_DIR}/Doxyfile @ONLY)
# Doxygen writes the help project; its keyword ids are put right before qhelpgenerator
# compiles it.
set(VC_DOCS_QCH_STEPS "")
if(VC_QHELPGENERATOR)
    set(VC_DOCS_QCH_STEPS
        COMMAND ${CMAKE_COMMAND} -DQHP=${VC_DOCS_DIR}/html/index.qhp
                -P ${CMAKE_CURRENT_LIST_DIR}/QhpKeywordIds.cmake
        COMMAND ${VC_QHELPGENERATOR} ${VC_DOCS_DIR}/html/index.qhp -s
                -o ${VC_DOCS_DIR}/TavikVendorComment.qch)
endif()
add_custom_target(docs
    COMMAND ${DOXYGEN_EXECUTABLE} ${VC_DOCS_DIR}/Doxyfile
    ${VC_DOCS_QCH_STEPS}
    WORKING_DIRECTORY ${VC_DOCS_DIR}
    DEPENDS ${VC_DOCS_HEADERS} ${VC_DOCS_DIR}/Doxyfile
    COMMENT "Writing the API documentation in ${VC_DOCS_DIR}"
    VERBATIM)
