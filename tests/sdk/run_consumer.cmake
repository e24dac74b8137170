# Installs this build's SDK into a fresh folder, builds the consumer project against it with the same
# toolchain, and runs the consumer under Wine.
#   -D BUILD_DIR=...  -D SOURCE_DIR=<consumer source>  -D WORK_DIR=...  -D TOOLCHAIN=...  -D GENERATOR=...
#   -D WINE_RUN=<cmake/wine-run>  -D VERSION=<the project's version>
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${ARGN}\nfailed (${rc}):\n${out}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(sdk ${WORK_DIR}/sdk)
set(build ${WORK_DIR}/build)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${sdk})
foreach(internal support/logging support/sync module agent_link stand_ins)
    if(EXISTS ${sdk}/include/${internal})
        message(FATAL_ERROR "the SDK ships internal headers: include/${internal}")
    endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -G ${GENERATOR} -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${sdk})
run(${CMAKE_COMMAND} --build ${build})

# The agent libraries that vornplug.dll imports come with the agent's installation; here the stand-ins
# play it.
foreach(agent_library vornint.dll vorn.dll)
    file(COPY ${BUILD_DIR}/bin/${agent_library} DESTINATION ${build})
endforeach()

# The build's own Wine prefix: a new one would take longer to create than the test takes to run.
set(ENV{WINEPREFIX} ${BUILD_DIR}/wineprefix)
run(${WINE_RUN} ${build}/consumer.exe)
message("${out}")
foreach(line "vornplug.dll version ${VERSION}.0" "QvCreateObject(Vorn.Service, IID_IService) = 0" "Init = 0" "GetExecutableName = VornHostService.exe")
    string(FIND "${out}" "${line}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "the consumer did not print \"${line}\"")
    endif()
endforeach()
