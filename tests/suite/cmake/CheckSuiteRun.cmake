# Runs p11suite once and judges every test by its result in googletest's JSON report.
#
#   cmake -DP11SUITE=<program> [-DARGS=<arg|arg|...>] [-DPIN_FROM_ENV=ON] [-DDATA_FILE=<path>]
#         [-DDATA_BYTES=<n>]
#         [-DLIBRARY_PATH=<dir>] [-DEXPECTED_FAILURES=<file> [-DLISTED_TEST=<Case.Test>]]
#         [-DEXPECT_ALSO_FAILING=<Case.Test,...> [-DALSO_FAILING_TEXT=<regex>]
#          [-DALL_FAILURES_TEXT=<regex>]]
#         [-DNAMED_FAILURES_TEXT=<regex>]
#         [-DEXPECT_PASSED=<n>] [-DEXPECT_FAILED=<n>] [-DMIN_FAILED=<n>] [-DFAILURE_TEXT=<regex>]
#         [-DOUTPUT_LINES=<regex> [-DOUTPUT_LINE_COUNT=<n>]] [-DFIRST_FAILURE_OUTPUT=<regex>]
#         -P CheckSuiteRun.cmake
#
# PIN_FROM_ENV   pass -p with $ZORVEL_TEST_USER_PIN (set by scripts/with-token.sh)
# DATA_FILE      write a deterministic data file of 40000 bytes there and pass it with -f
# DATA_BYTES     make the data file only this long
# LIBRARY_PATH   run with this directory first on LD_LIBRARY_PATH (another token library)
# LAUNCHER       run p11suite under this command (<program|arg|...>), e.g. valgrind
# EXPECTED_FAILURES
#                the tests listed there must fail and every other test that ran must pass;
#                the exit status must say so too (0 only without expected failures); with
#                a --gtest_filter in ARGS, only the listed tests of the cases that ran count
# LISTED_TEST    a test listed in EXPECTED_FAILURES whose failure messages must be exactly
#                the ones listed for it there (as with ALL_FAILURES_TEXT)
# EXPECT_ALSO_FAILING
#                tests that must fail as well, e.g. under a fault switch; the first
#                failure message of each must match ALSO_FAILING_TEXT when given
# ALL_FAILURES_TEXT
#                all failure messages of each test in EXPECT_ALSO_FAILING, one after
#                another, each ending in a newline, must match this (anchor it with ^ and
#                $ to say at which checks the test fails and how often)
# NAMED_FAILURES_TEXT
#                the same, matched against the test's name and a newline before its
#                failure messages, so that one regex can say which tests fail how
# EXPECT_PASSED, EXPECT_FAILED
#                the numbers of tests that must have passed and failed
# MIN_FAILED     the least number of tests that must have failed
# FAILURE_TEXT   every failing test's first failure message must match this
# SKIPPED_AS_FAILED
#                a skipped test (its case's set-up failed) counts as failed, not as a problem
# OUTPUT_LINES   exactly OUTPUT_LINE_COUNT (default 1) lines of p11suite's output, standard
#                output and error together, must contain a match of this regex (one that
#                does not span lines), e.g. the token's trace lines of one call
# FIRST_FAILURE_OUTPUT
#                the first failure p11suite prints, from its "file:line: Failure" line to
#                the next line that starts with "[", must match this; it also covers a
#                suite set-up's failure, which the JSON report leaves out
cmake_minimum_required(VERSION 3.19)

if(NOT P11SUITE)
  message(FATAL_ERROR "P11SUITE not given")
endif()

set(command "")
if(LAUNCHER)
  string(REPLACE "|" ";" command "${LAUNCHER}")
endif()
list(APPEND command ${P11SUITE})
if(ARGS)
  string(REPLACE "|" ";" extra "${ARGS}")
  list(APPEND command ${extra})
endif()
if(PIN_FROM_ENV)
  if(NOT DEFINED ENV{ZORVEL_TEST_USER_PIN})
    message(FATAL_ERROR "ZORVEL_TEST_USER_PIN is not set: run under scripts/with-token.sh")
  endif()
  list(APPEND command -p "$ENV{ZORVEL_TEST_USER_PIN}")
endif()
if(DATA_FILE)
  set(data "")
  foreach(i RANGE 1 625)
    string(SHA256 block "p11suite data ${i}")
    string(APPEND data "${block}")
  endforeach()
  if(DATA_BYTES)
    string(SUBSTRING "${data}" 0 ${DATA_BYTES} data)
  endif()
  file(WRITE "${DATA_FILE}" "${data}")
  list(APPEND command -f "${DATA_FILE}")
endif()
if(LIBRARY_PATH)
  set(ENV{LD_LIBRARY_PATH} "${LIBRARY_PATH}:$ENV{LD_LIBRARY_PATH}")
endif()

# A report of this run's own: runs without a token share their working directory.
string(RANDOM LENGTH 12 run_tag)
get_filename_component(report "p11suite-report-${run_tag}.json" ABSOLUTE)
list(APPEND command "--gtest_output=json:${report}")
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT EXISTS "${report}")
  message("${output}")
  message(FATAL_ERROR "p11suite wrote no report (exit status ${status})")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/ExpectedFailures.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/SuiteReport.cmake)

# The tests expected to fail.
set(expected "")
if(EXPECTED_FAILURES)
  zorvel_read_expected_failures("${EXPECTED_FAILURES}" listed)
  set(expected "${listed_tests}")
endif()
set(also_failing "")
if(EXPECT_ALSO_FAILING)
  string(REPLACE "," ";" also_failing "${EXPECT_ALSO_FAILING}")
  list(APPEND expected ${also_failing})
endif()
if(LISTED_TEST)
  if(NOT LISTED_TEST IN_LIST expected OR ALL_FAILURES_TEXT)
    message(FATAL_ERROR "LISTED_TEST ${LISTED_TEST}: not listed in EXPECTED_FAILURES, or given with ALL_FAILURES_TEXT")
  endif()
  list(APPEND also_failing "${LISTED_TEST}")
  set(ALL_FAILURES_TEXT "${listed_failures_${LISTED_TEST}}")
endif()

zorvel_read_suite_report("${report}")
file(REMOVE "${report}")
set(passed 0)
set(failed 0)
set(problems "")
set(seen "${report_tests}")
set(i 0)
foreach(name IN LISTS report_tests)
  set(result "${report_result_${i}}")
  set(first "${report_first_${i}}")
  set(all_failures "${report_failures_${i}}")
  math(EXPR i "${i} + 1")
  list(FIND expected "${name}" listed)
  list(FIND also_failing "${name}" also)
  if(result STREQUAL "skipped" AND SKIPPED_AS_FAILED)
    math(EXPR failed "${failed} + 1")
  elseif(result STREQUAL "skipped")
    list(APPEND problems "${name}: skipped (a failed suite set-up?)")
  elseif(result STREQUAL "failed")
    math(EXPR failed "${failed} + 1")
    if(listed EQUAL -1 AND (EXPECTED_FAILURES OR also_failing))
      list(APPEND problems "${name}: failed unexpectedly: ${first}")
    endif()
    if(NOT also EQUAL -1 AND ALSO_FAILING_TEXT AND NOT first MATCHES "${ALSO_FAILING_TEXT}")
      list(APPEND problems "${name}: failure does not match '${ALSO_FAILING_TEXT}': ${first}")
    endif()
    if(NOT also EQUAL -1 AND ALL_FAILURES_TEXT AND NOT all_failures MATCHES "${ALL_FAILURES_TEXT}")
      list(APPEND problems "${name}: failures do not match '${ALL_FAILURES_TEXT}': ${all_failures}")
    endif()
    if(NOT also EQUAL -1 AND NAMED_FAILURES_TEXT AND NOT "${name}\n${all_failures}" MATCHES "${NAMED_FAILURES_TEXT}")
      list(APPEND problems "${name}: failures do not match '${NAMED_FAILURES_TEXT}': ${all_failures}")
    endif()
    if(FAILURE_TEXT AND NOT first MATCHES "${FAILURE_TEXT}")
      list(APPEND problems "${name}: failure does not match '${FAILURE_TEXT}': ${first}")
    endif()
  else()
    math(EXPR passed "${passed} + 1")
    if(NOT listed EQUAL -1)
      list(APPEND problems "${name}: passed although listed as expected to fail")
    endif()
  endif()
endforeach()

set(seen_cases "")
foreach(name IN LISTS seen)
  string(REGEX REPLACE "\\..*" "" case "${name}")
  list(APPEND seen_cases "${case}")
endforeach()
foreach(name IN LISTS expected)
  list(FIND seen "${name}" ran)
  string(REGEX REPLACE "\\..*" "" case "${name}")
  list(FIND seen_cases "${case}" case_ran)
  if(ran EQUAL -1 AND case_ran EQUAL -1 AND ARGS MATCHES "--gtest_filter" AND NOT name IN_LIST also_failing)
    continue() # filtered out with its case
  endif()
  if(ran EQUAL -1)
    list(APPEND problems "${name}: listed as expected to fail but did not run")
  endif()
endforeach()
if(EXPECTED_FAILURES OR also_failing)
  # Of the tests expected to fail, those that ran (a filter leaves out other cases' ones).
  set(expected_count 0)
  foreach(name IN LISTS expected)
    if(name IN_LIST seen)
      math(EXPR expected_count "${expected_count} + 1")
    endif()
  endforeach()
  if(expected_count EQUAL 0 AND NOT status EQUAL 0)
    list(APPEND problems "exit status ${status}, expected 0 (a failed suite tear-down?)")
  elseif(expected_count GREATER 0 AND NOT status EQUAL 1)
    list(APPEND problems "exit status ${status}, expected 1")
  endif()
endif()
if(DEFINED EXPECT_PASSED AND NOT passed EQUAL EXPECT_PASSED)
  list(APPEND problems "${passed} tests passed, expected ${EXPECT_PASSED}")
endif()
if(DEFINED EXPECT_FAILED AND NOT failed EQUAL EXPECT_FAILED)
  list(APPEND problems "${failed} tests failed, expected ${EXPECT_FAILED}")
endif()
if(DEFINED MIN_FAILED AND failed LESS MIN_FAILED)
  list(APPEND problems "${failed} tests failed, expected at least ${MIN_FAILED}")
endif()
if(failed EQUAL 0 AND NOT status EQUAL 0)
  list(APPEND problems "no test failed but the exit status is ${status}")
endif()
if(failed GREATER 0 AND NOT status EQUAL 1)
  list(APPEND problems "${failed} tests failed but the exit status is ${status}")
endif()

if(DEFINED OUTPUT_LINES)
  if(NOT DEFINED OUTPUT_LINE_COUNT)
    set(OUTPUT_LINE_COUNT 1)
  endif()
  # Each matching line becomes one marker character, and the markers are counted.
  string(ASCII 1 marker)
  string(REGEX REPLACE "[^\n]*(${OUTPUT_LINES})[^\n]*" "${marker}" marked "${output}")
  string(REGEX REPLACE "[^${marker}]+" "" marks "${marked}")
  string(LENGTH "${marks}" lines)
  if(NOT lines EQUAL OUTPUT_LINE_COUNT)
    list(APPEND problems "${lines} output lines match '${OUTPUT_LINES}', expected ${OUTPUT_LINE_COUNT}")
  endif()
endif()
if(DEFINED FIRST_FAILURE_OUTPUT)
  string(REGEX MATCH "[^\n]+:[0-9]+: Failure\n" failure_line "${output}")
  if(failure_line STREQUAL "")
    list(APPEND problems "p11suite printed no failure, expected one matching '${FIRST_FAILURE_OUTPUT}'")
  else()
    string(FIND "${output}" "${failure_line}" start)
    string(SUBSTRING "${output}" ${start} -1 first_failure)
    string(FIND "${first_failure}" "\n[" end)
    string(SUBSTRING "${first_failure}" 0 ${end} first_failure)
    if(NOT first_failure MATCHES "${FIRST_FAILURE_OUTPUT}")
      list(APPEND problems "the first failure printed does not match '${FIRST_FAILURE_OUTPUT}': ${first_failure}")
    endif()
  endif()
endif()

message("p11suite: ${passed} passed, ${failed} failed, exit status ${status}")
if(problems)
  message("${output}")
  foreach(problem IN LISTS problems)
    message("  ${problem}")
  endforeach()
  message(FATAL_ERROR "the run of p11suite does not meet its expectations")
endif()
