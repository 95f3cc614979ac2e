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

set(expected "")
file(STRINGS "${EXPECTED_FAILURES}" lines)
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z0-9_]+\\.[A-Za-z0-9_]+)[ \t]+[^ \t]")
    list(APPEND expected "${CMAKE_MATCH_1}")
  endif()
endforeach()

file(READ "${REPORT}" json)
set(passed 0)
set(expected_failed 0)
set(unexpected "")
string(JSON suites LENGTH "${json}" testsuites)
math(EXPR last_suite "${suites} - 1")
foreach(s RANGE ${last_suite})
  string(JSON suite GET "${json}" testsuites ${s} name)
  string(JSON tests LENGTH "${json}" testsuites ${s} testsuite)
  if(tests EQUAL 0)
    continue()
  endif()
  math(EXPR last_test "${tests} - 1")
  foreach(t RANGE ${last_test})
    string(JSON test GET "${json}" testsuites ${s} testsuite ${t} name)
    string(JSON run GET "${json}" testsuites ${s} testsuite ${t} status)
    if(NOT run STREQUAL "RUN")
      continue() # disabled
    endif()
    string(JSON result GET "${json}" testsuites ${s} testsuite ${t} result)
    string(JSON failures ERROR_VARIABLE none LENGTH "${json}" testsuites ${s} testsuite ${t} failures)
    set(name "${suite}.${test}")
    list(FIND expected "${name}" listed)
    if(result STREQUAL "SKIPPED")
      list(APPEND unexpected "${name} skipped")
    elseif(NOT none AND failures GREATER 0)
      if(listed EQUAL -1)
        list(APPEND unexpected "${name} failed")
      else()
        math(EXPR expected_failed "${expected_failed} + 1")
      endif()
    elseif(listed EQUAL -1)
      math(EXPR passed "${passed} + 1")
    else()
      list(APPEND unexpected "${name} passed although listed in ${EXPECTED_FAILURES}")
    endif()
  endforeach()
endforeach()

list(LENGTH unexpected unexpected_count)
foreach(item IN LISTS unexpected)
  message("  unexpected: ${item}")
endforeach()
message("${passed} passed, ${expected_failed} expected failures, ${unexpected_count} unexpected")
if(unexpected_count GREATER 0)
  message(FATAL_ERROR "p11suite had unexpected results against the stand-in")
endif()
