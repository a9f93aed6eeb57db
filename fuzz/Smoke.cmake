# Runs one fuzz target for SECONDS over a scratch copy of its corpus; with
# SECONDS 0 it only replays the corpus.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/crashes)
file(GLOB seeds ${CORPUS}/*)
if(seeds)
    file(COPY ${seeds} DESTINATION ${WORK}/corpus)
endif()
if(SECONDS GREATER 0)
    set(how -max_total_time=${SECONDS})
else()
    set(how -runs=0)
endif()
execute_process(
    COMMAND ${FUZZER} ${how} -timeout=20 -rss_limit_mb=2048
            -print_final_stats=1 -artifact_prefix=${WORK}/crashes/ ${WORK}/corpus
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} found a fault; the input is in ${WORK}/crashes")
endif()
