# Runs quarnc MODE (--tokens unless given) on one case file, after the file BEFORE when it
# is given, and compares its output and exit status with the case's .expect file; when the
# case also has a .errors file, plain quarnc is compared with that. With UPDATE set, writes
# the expected files instead.
include(${CMAKE_CURRENT_LIST_DIR}/../compare_expected.cmake)
function(compare_quarnc_output arguments expected_file)
    execute_process(COMMAND ${QUARNC} ${arguments} ${NAME}.8 WORKING_DIRECTORY ${CASES}
                    OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
    set(actual "${output}exit status: ${status}\n")
    compare_with_expected("${actual}" ${expected_file} "quarnc ${arguments} ${NAME}.8 differs from ${expected_file} ${errors}")
endfunction()

if(NOT MODE)
    set(MODE --tokens)
endif()
if(BEFORE)
    list(APPEND MODE ${BEFORE})
endif()
compare_quarnc_output("${MODE}" ${NAME}.expect)
if(EXISTS ${CASES}/${NAME}.errors)
    compare_quarnc_output("" ${NAME}.errors)
endif()
