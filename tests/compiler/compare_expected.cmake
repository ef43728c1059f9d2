# The end every case script shares: with UPDATE set, actual becomes CASES/expected_file;
# otherwise it must equal it, and a difference is shown and fails the test with message.
function(compare_with_expected actual expected_file message)
    if(UPDATE)
        file(WRITE ${CASES}/${expected_file} "${actual}")
        return()
    endif()
    file(READ ${CASES}/${expected_file} expected)
    if(NOT actual STREQUAL expected)
        file(WRITE ${OUTPUT_DIR}/${expected_file}.actual "${actual}")
        execute_process(COMMAND diff -u ${CASES}/${expected_file} ${OUTPUT_DIR}/${expected_file}.actual)
        message(FATAL_ERROR "${message}")
    endif()
endfunction()
