# Sums up a run of p11suite from googletest's JSON report, against the list of tests
# expected to fail on the stand-in:
#
#   cmake -DREPORT=<json> -DEXPECTED_FAILURES=<file> -P SummarizeSuiteReport.cmake
#
# Prints "<n> passed, <n> expected failures, <n> unexpected" and names each unexpected
# result: a failure or skip of a test not listed, or a pass of a listed one. Listed tests
# that did not run (a filter) are not counted. Fails when anything was unexpected.
cmake_minimum_required(VERSION 3.19)

if(NOT EXISTS "${REPORT}")
  message(FATAL_ERROR "no report ${REPORT}: p11suite did not finish")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/ExpectedFailures.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/SuiteReport.cmake)
zorvel_read_expected_failures("${EXPECTED_FAILURES}" listed)
set(expected "${listed_tests}")
zorvel_read_suite_report("${REPORT}")

set(passed 0)
set(expected_failed 0)
set(unexpected "")
set(i 0)
foreach(name IN LISTS report_tests)
  set(result "${report_result_${i}}")
  math(EXPR i "${i} + 1")
  list(FIND expected "${name}" listed)
  if(result STREQUAL "skipped")
    list(APPEND unexpected "${name} skipped")
  elseif(result STREQUAL "failed" AND listed EQUAL -1)
    list(APPEND unexpected "${name} failed")
  elseif(result STREQUAL "failed")
    math(EXPR expected_failed "${expected_failed} + 1")
  elseif(listed EQUAL -1)
    math(EXPR passed "${passed} + 1")
  else()
    list(APPEND unexpected "${name} passed although listed in ${EXPECTED_FAILURES}")
  endif()
endforeach()

list(LENGTH unexpected unexpected_count)
foreach(item IN LISTS unexpected)
  message("  unexpected: ${item}")
endforeach()
message("${passed} passed, ${expected_failed} expected failures, ${unexpected_count} unexpected")
if(unexpected_count GREATER 0)
  message(FATAL_ERROR "p11suite had unexpected results against the stand-in")
endif()
