# Runs bin/qvhost.exe under the emulator and checks its exit code (EXIT) and that its last line matches LAST or
# its whole output matches OUTPUT: cmake -DEMULATOR=... -DTOOL=... -DARGS=a;b -DEXIT=0 -DLAST=regex -P run_tool.cmake
execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGS} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err
    TIMEOUT 240)
string(REPLACE "\r" "" out "${out}${err}")
message("${out}")
string(STRIP "${out}" stripped)
string(REGEX REPLACE ".*\n" "" last "${stripped}")
if(NOT code STREQUAL EXIT)
    message(FATAL_ERROR "qvhost exited with ${code}, not ${EXIT}")
elseif(DEFINED LAST AND NOT last MATCHES "${LAST}")
    message(FATAL_ERROR "the last line does not match ${LAST}: ${last}")
elseif(DEFINED OUTPUT AND NOT out MATCHES "${OUTPUT}")
    message(FATAL_ERROR "the output does not match ${OUTPUT}")
endif()
