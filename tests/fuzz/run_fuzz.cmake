# Runs one fuzz target as a test (cmake -P):
#   -DFUZZER=binary -DSEEDS=dir -DREGRESSIONS=dir -DWORK=dir -DSECONDS=n -DMAX_LEN=n
# First every file under REGRESSIONS runs once as a plain input; then the
# fuzzer runs for SECONDS from the seeds. New inputs go to a fresh corpus
# under WORK, never into the source tree; a crash leaves its input there too.
foreach(v FUZZER SEEDS REGRESSIONS WORK SECONDS MAX_LEN)
    if(NOT DEFINED ${v})
        message(FATAL_ERROR "run_fuzz.cmake: -D${v}=... missing")
    endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts" "${WORK}/regressions")
set(common -rss_limit_mb=2048 -timeout=20 -max_len=${MAX_LEN} -artifact_prefix=${WORK}/artifacts/)

if(IS_DIRECTORY "${REGRESSIONS}")
    # -runs=0 executes each input of the directories once and stops; the
    # empty first directory is where libFuzzer would write, so the kept
    # inputs stay untouched.
    execute_process(
        COMMAND "${FUZZER}" ${common} -runs=0 "${WORK}/regressions" "${REGRESSIONS}"
        RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${FUZZER}: an input under ${REGRESSIONS} fails again (exit ${rc})")
    endif()
endif()

execute_process(
    COMMAND "${FUZZER}" ${common} -max_total_time=${SECONDS} -print_final_stats=1
            "${WORK}/corpus" "${SEEDS}"
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${FUZZER} found a failing input (exit ${rc}); it is in ${WORK}/artifacts/")
endif()
