# Runs quarnc on one case and compares its output and exit status with NAME.expect.
# - NAME.cases: many snippets, each after a line "// case TITLE", written to TITLE.8 in a
#   folder of the run's own and compiled with `quarnc --front`, all in one process one after the
#   other (`--each`), as the editor compiles again after an edit; the outputs follow one
#   another under "== TITLE". Line 1 of a snippet is the line after its title. When the
#   file's first line is "// each snippet is inject.8", a snippet is written instead as
#   TITLE/inject.8 beside an empty TITLE/custom.8 and compiled with `quarnc TITLE`. A first
#   line "// quarnc: ARGUMENTS" gives the arguments before each snippet's file instead of
#   `--front` (<FIXTURES> names the fixtures folder).
# - Otherwise the arguments come from NAME.args (one line, <FIXTURES> as above; a case may be a directory of
#   sources) or are `--front --preparse --ir NAME.8`, run in the cases folder.
# The folder a case ran in prints as <DIR>, so the expected files hold no machine's paths.
# With UPDATE set, writes NAME.expect instead.
include(${CMAKE_CURRENT_LIST_DIR}/../compare_expected.cmake)
function(run_quarnc directory arguments result)
    execute_process(COMMAND ${QUARNC} ${arguments} WORKING_DIRECTORY ${directory}
                    OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
    get_filename_component(real ${directory} REALPATH)
    string(REPLACE "${real}" "<DIR>" output "${output}")
    set(${result} "${output}exit status: ${status}\n" PARENT_SCOPE)
endfunction()

if(EXISTS ${CASES}/${NAME}.cases)
    make_case_folder(folder)
    file(READ ${CASES}/${NAME}.cases content)
    string(FIND "${content}" "// each snippet is inject.8\n" support_sources)
    set(snippet_arguments --front)
    if(content MATCHES "^// quarnc: ([^\n]*)\n")
        string(REPLACE "<FIXTURES>" "${FIXTURES}" snippet_arguments "${CMAKE_MATCH_1}")
        separate_arguments(snippet_arguments UNIX_COMMAND "${snippet_arguments}")
    endif()
    # CMake lists split at ';' and pair square brackets: keep both out of the list.
    string(REPLACE ";" "@SEMICOLON@" content "${content}")
    string(REPLACE "[" "@OPEN@" content "${content}")
    string(REPLACE "]" "@CLOSE@" content "${content}")
    string(REPLACE "\n// case " ";" parts "\n${content}")
    list(POP_FRONT parts)
    set(targets "")
    set(titles "")
    foreach(part ${parts})
        string(FIND "${part}" "\n" newline)
        if(newline EQUAL -1)
            set(title "${part}")
            set(body "")
        else()
            string(SUBSTRING "${part}" 0 ${newline} title)
            math(EXPR body_start "${newline} + 1")
            string(SUBSTRING "${part}" ${body_start} -1 body)
        endif()
        string(REPLACE "@SEMICOLON@" ";" body "${body}")
        string(REPLACE "@OPEN@" "[" body "${body}")
        string(REPLACE "@CLOSE@" "]" body "${body}")
        string(REPLACE " " "_" file_name "${title}")
        if(support_sources EQUAL 0)
            file(WRITE ${folder}/${file_name}/inject.8 "${body}")
            file(WRITE ${folder}/${file_name}/custom.8 "")
            list(APPEND targets "${file_name}")
        else()
            file(WRITE ${folder}/${file_name}.8 "${body}")
            list(APPEND targets "${file_name}.8")
        endif()
        list(APPEND titles "${title}")
    endforeach()
    if(support_sources EQUAL 0)
        set(snippet_arguments "")
    endif()
    run_quarnc(${folder} "--each;${snippet_arguments};${targets}" actual)
    # quarnc heads each output with the target it compiled: put back the snippet's title.
    foreach(target title IN ZIP_LISTS targets titles)
        string(REPLACE "\n== ${target}\n" "\n== ${title}\n" actual "\n${actual}")
        string(SUBSTRING "${actual}" 1 -1 actual)
    endforeach()
    string(REGEX REPLACE "exit status: 0\n$" "" actual "${actual}")
    file(REMOVE_RECURSE "${folder}")
else()
    if(EXISTS ${CASES}/${NAME}.args)
        file(STRINGS ${CASES}/${NAME}.args arguments LIMIT_COUNT 1)
        string(REPLACE "<FIXTURES>" "${FIXTURES}" arguments "${arguments}")
        separate_arguments(arguments UNIX_COMMAND "${arguments}")
    else()
        set(arguments --front --preparse --ir ${NAME}.8)
    endif()
    run_quarnc(${CASES} "${arguments}" actual)
endif()

compare_with_expected("${actual}" ${NAME}.expect "quarnc on case ${NAME} differs from ${NAME}.expect")
