# Writes the catalogs translations/*.ts from the texts the sources mark with TAVIK_TR, by
# lupdate. Run as a script:
#
#   cmake -DLUPDATE=/usr/lib/qt6/bin/lupdate -DSOURCE_DIR=. -P cmake/Lupdate.cmake
#
# updates the catalogs in place (the build's `translations_update` target does this); with
# -DCHECK_DIR=DIR it updates copies in DIR instead and fails when a copy gains a text without
# a finished translation or keeps one the sources no longer have.

foreach(variable LUPDATE SOURCE_DIR)
    if(NOT ${variable})
        message(FATAL_ERROR "Lupdate.cmake needs -D${variable}=...")
    endif()
endforeach()

# Every folder whose texts can reach the screen. No locations: a moved line must not change
# the catalogs.
set(scanned control editor gateway list platform shell)
list(TRANSFORM scanned PREPEND ${SOURCE_DIR}/src/)
set(options -tr-function-alias QT_TRANSLATE_NOOP+=TAVIK_TR -locations none -extensions cpp,h
    -silent)

file(GLOB catalogs ${SOURCE_DIR}/translations/*.ts)
if(NOT catalogs)
    message(FATAL_ERROR "no catalog in ${SOURCE_DIR}/translations")
endif()

if(NOT CHECK_DIR)
    execute_process(COMMAND ${LUPDATE} ${options} -no-obsolete ${scanned} -ts ${catalogs}
                    COMMAND_ERROR_IS_FATAL ANY)
    return()
endif()

file(REMOVE_RECURSE ${CHECK_DIR})
file(MAKE_DIRECTORY ${CHECK_DIR})
set(faults "")
foreach(catalog ${catalogs})
    get_filename_component(name ${catalog} NAME)
    set(copy ${CHECK_DIR}/${name})
    file(COPY_FILE ${catalog} ${copy})
    execute_process(COMMAND ${LUPDATE} ${options} ${scanned} -ts ${copy}
                    COMMAND_ERROR_IS_FATAL ANY)
    file(READ ${copy} updated)
    # One message a match: its source and what lupdate says of its translation.
    string(REGEX MATCHALL "<source>[^<]*</source>[ \n]*<translation type=\"[a-z]+\""
           unsettled "${updated}")
    foreach(message ${unsettled})
        string(REGEX REPLACE "<source>([^<]*)</source>[ \n]*<translation type=\"([a-z]+)\""
               "\\2: \"\\1\"" message "${message}")
        string(REPLACE "unfinished:" "no translation of" message "${message}")
        string(REPLACE "vanished:" "no longer in the sources:" message "${message}")
        string(REPLACE "obsolete:" "no longer in the sources:" message "${message}")
        string(APPEND faults "\n  ${name}: ${message}")
    endforeach()
endforeach()
if(faults)
    message(FATAL_ERROR "The catalogs do not match the marked texts "
                        "(update them with the translations_update target):${faults}")
endif()
message(STATUS "every marked text has a finished translation in ${catalogs}")
