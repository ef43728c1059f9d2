# Runs quarnc --type on each line of NAME.types, after the support fixture and the
# declarations.8 of the cases, and compares the outputs (each after "> " and its line, with
# the exit status) with NAME.expect. With UPDATE set, writes NAME.expect instead.
set(files ${FIXTURES}/inject.8 declarations.8)
file(STRINGS ${CASES}/${NAME}.types lines)
set(actual "")
foreach(line IN LISTS lines)
    if(line STREQUAL "")
        continue()
    endif()
    execute_process(COMMAND ${QUARNC} --type ${line} ${files} WORKING_DIRECTORY ${CASES}
                    OUTPUT_VARIABLE output RESULT_VARIABLE status)
    string(APPEND actual "> ${line}\n${output}exit status: ${status}\n\n")
endforeach()
if(UPDATE)
    file(WRITE ${CASES}/${NAME}.expect "${actual}")
    return()
endif()
file(READ ${CASES}/${NAME}.expect expected)
if(NOT actual STREQUAL expected)
    file(WRITE ${OUTPUT_DIR}/${NAME}.types.actual "${actual}")
    execute_process(COMMAND diff -u ${CASES}/${NAME}.expect ${OUTPUT_DIR}/${NAME}.types.actual)
    message(FATAL_ERROR "quarnc --type on the lines of ${NAME}.types differs from ${NAME}.expect")
endif()
