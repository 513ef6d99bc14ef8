# Installs the build into a scratch prefix, then configures, builds and runs a small
# consumer project against the installed package, as a project of our users would: through
# its CMake package and through its pkg-config file.
# Variables: BUILD_DIR, SOURCE_DIR, WORK_DIR, GENERATOR, COMPILER, SANITIZE (the build's
# sanitizers, which the consumer must link too).

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
    endif()
endfunction()

step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(flags "")
if(SANITIZE)
    set(flags "-fsanitize=${SANITIZE}")
endif()
step(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
     -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${COMPILER}
     "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
step(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
step(${CMAKE_COMMAND} -E env TAVIK_REGISTRY=${WORK_DIR}/registry QT_QPA_PLATFORM=offscreen
     ${WORK_DIR}/build/consumer)
step(${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${WORK_DIR}/build/pkgconfig-consumer)
message(STATUS "the consumer built and ran against ${prefix}")
