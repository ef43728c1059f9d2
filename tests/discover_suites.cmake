# Lists the test suites of a test executable (after each build of it) and writes the CTest
# script that runs each suite as one test: EXECUTABLE, OUTPUT, WORKING_DIRECTORY, TIMEOUT.
execute_process(COMMAND ${EXECUTABLE} --gtest_list_tests
                OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status TIMEOUT 300)
if(NOT status EQUAL 0)
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "${EXECUTABLE} could not list its tests (${status}):\n${listing}${errors}")
endif()

set(script "")
set(suites 0)
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
    # A suite's line is its name and a dot (typed suites add a comment); its tests follow indented.
    if(line MATCHES "^([A-Za-z0-9_/]+)\\.( |$)")
        set(suite "${CMAKE_MATCH_1}")
        string(APPEND script
            "add_test([==[${suite}]==] [==[${EXECUTABLE}]==] [==[--gtest_filter=${suite}.*]==])\n"
            "set_tests_properties([==[${suite}]==] PROPERTIES WORKING_DIRECTORY [==[${WORKING_DIRECTORY}]==] "
            "TIMEOUT ${TIMEOUT})\n")
        math(EXPR suites "${suites} + 1")
    endif()
endforeach()
if(suites EQUAL 0)
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "${EXECUTABLE} lists no test suites:\n${listing}")
endif()
file(WRITE ${OUTPUT} "${script}")
