# Runs quarnc --type on each line of NAME.types, after the support fixture and the
# declarations.8 of the cases, and compares the outputs (each after "> " and its line, with
# the exit status) with NAME.expect. With UPDATE set, writes NAME.expect instead.
include(${CMAKE_CURRENT_LIST_DIR}/../compare_expected.cmake)
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
compare_with_expected("${actual}" ${NAME}.expect "quarnc --type on the lines of ${NAME}.types differs from ${NAME}.expect")
