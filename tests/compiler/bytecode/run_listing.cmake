# Runs `quarnc --front --listing` on one case file and compares the listing, quarnc's output
# and its exit status with NAME.expect. The owner of each local in the listing is an address
# ("(0x3a9f40-2) SB"), which moves from run to run: owners are numbered by their first
# appearance instead ("(#1-2) SB"). With UPDATE set, writes NAME.expect instead.
include(${CMAKE_CURRENT_LIST_DIR}/../compare_expected.cmake)
make_case_folder(folder)
set(listing "${folder}/${NAME}.listing")
execute_process(COMMAND ${QUARNC} --front --listing ${listing} ${NAME}.8 WORKING_DIRECTORY ${CASES}
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
if(EXISTS ${listing})
    file(READ ${listing} text)
    set(number 1)
    string(REGEX MATCH "\\(0x[0-9a-f]+-" owner "${text}")
    while(owner)
        string(REPLACE "${owner}" "(#${number}-" text "${text}")
        math(EXPR number "${number} + 1")
        string(REGEX MATCH "\\(0x[0-9a-f]+-" owner "${text}")
    endwhile()
else()
    set(text "no listing\n")
endif()
file(REMOVE_RECURSE "${folder}")
get_filename_component(real ${CASES} REALPATH)
string(REPLACE "${real}" "<DIR>" output "${output}")
set(actual "${text}== quarnc\n${output}${errors}exit status: ${status}\n")

compare_with_expected("${actual}" ${NAME}.expect "quarnc --listing on case ${NAME} differs from ${NAME}.expect")
