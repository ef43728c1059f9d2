# A bounded run of a fuzz target over the case files: a fixed seed and a fixed number of
# inputs, so the suite's run is the same on every machine, however busy. QUARN_TEST_SEED=n
# runs from seed n; QUARN_TEST_SEED=any draws a fresh one and keeps what it finds in the
# corpus of the build folder, which the next such run starts from.
# cmake -DFUZZER=<target> -DCASES=<dirs> -DCORPUS=<dir> -DRUNS=<n> [-DMAX_LEN=<n>] -P run_fuzz.cmake
set(seed 20261211)
if(NOT DEFINED MAX_LEN)
    set(MAX_LEN 8192)
endif()
string(REPLACE "," ";" CASES "${CASES}")
set(corpus_directories)
if(DEFINED ENV{QUARN_TEST_SEED} AND NOT "$ENV{QUARN_TEST_SEED}" STREQUAL "")
    if("$ENV{QUARN_TEST_SEED}" STREQUAL "any")
        string(RANDOM LENGTH 8 ALPHABET 0123456789 seed)
        string(REGEX REPLACE "^0+" "" seed "${seed}1")
        set(corpus_directories ${CORPUS})
    else()
        set(seed "$ENV{QUARN_TEST_SEED}")
    endif()
endif()
# What a run finds goes to the first directory: a fresh one, unless the corpus is wanted.
if(NOT corpus_directories)
    if(DEFINED ENV{TMPDIR} AND IS_DIRECTORY "$ENV{TMPDIR}")
        set(scratch "$ENV{TMPDIR}")
    else()
        set(scratch "/tmp")
    endif()
    string(RANDOM LENGTH 12 name)
    set(found "${scratch}/quarn-fuzz-${name}")
    file(MAKE_DIRECTORY "${found}")
    set(corpus_directories "${found}")
endif()
message("fuzz seed ${seed} (QUARN_TEST_SEED=${seed} repeats it)")
execute_process(COMMAND ${FUZZER} -seed=${seed} -runs=${RUNS} -max_len=${MAX_LEN} -timeout=60 -print_final_stats=1
                        ${corpus_directories} ${CASES}
                RESULT_VARIABLE status)
if(found)
    file(REMOVE_RECURSE "${found}")
endif()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the fuzz run failed (${status}) with seed ${seed}")
endif()
