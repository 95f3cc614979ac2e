# Test registration shared by every test folder.
#
# zorvel_add_test(NAME <name> COMMAND <cmd> [args...]
#                 [TOKEN [TOKENS <n>] [NAMESPACE]] [VALGRIND] [LABELS <label>...]
#                 [ENVIRONMENT <VAR=value>...] [DEPENDS <target>...] [TIMEOUT <seconds>]
#                 [COST <n>])
#
# A tree builds the test programs of the tests it registers, and no others: tests/ is left
# out of "all", and with "all" comes every target that a registered test runs as its
# command, names in its COMMAND or ENVIRONMENT through $<TARGET_FILE:...> or
# $<TARGET_FILE_DIR:...>, or lists under DEPENDS (what it reaches another way, e.g. a
# folder that a target's build fills) (zorvel_test_programs). ZORVEL_TEST_LABEL, when
# set, registers only the tests with that label (the ubsan tree: standin).
#
# TOKEN    the test runs against the stand-in token: it gets fresh SoftHSM2 tokens of its
#          own (scripts/with-token.sh), SOFTHSM2_CONF and ZORVEL_TEST_USER_PIN, and the
#          label "standin". Tests without TOKEN get the label "unit".
# NAMESPACE the test needs the stand-in's backend in a link-map namespace of its own
#          (ZORVEL_STANDIN_NAMESPACE): it is not registered in the asan tree, which loads
#          the backend into the application's namespace. Where ZORVEL_TOKEN_TESTS_NEED_NAMESPACE
#          is set (a folder's tests of a program that brings its own libcrypto users, such
#          as the engine), every TOKEN test needs it.
# VALGRIND in the plain build, also register <name>.valgrind under valgrind memcheck
#          (label "valgrind"): any error or definite leak fails it.
# TIMEOUT  the longest the test may run before it fails (a hang fails instead of blocking
#          the run); default ZORVEL_TEST_TIMEOUT. A test under valgrind (a .valgrind variant
#          or one labelled "valgrind") gets ZORVEL_VALGRIND_TIMEOUT_FACTOR times as long.
# COST     about the seconds the test takes (with VALGRIND: its .valgrind variant, the plain
#          run being short): a parallel ctest starts the costliest first, so that a long test
#          does not start last in a tree that has no timings of earlier runs.
#
# A test that finds a tool it needs missing exits with ZORVEL_SKIP_RETURN_CODE (77), which
# ctest reports as skipped rather than failed.

find_program(ZORVEL_VALGRIND valgrind)
set(ZORVEL_TEST_LABEL "" CACHE STRING "Register only the tests with this label (unit or standin); empty: all")
add_custom_target(zorvel_test_programs ALL)
set(ZORVEL_TEST_TIMEOUT 300 CACHE STRING "Seconds a test may run before it fails")
set(ZORVEL_VALGRIND_TIMEOUT_FACTOR 4 CACHE STRING "How many times longer a test may run under valgrind")
# The default for a test registered without zorvel_add_test: ctest reads it from here.
file(WRITE ${PROJECT_BINARY_DIR}/DartConfiguration.tcl "TimeOut: ${ZORVEL_TEST_TIMEOUT}\n")
set(ZORVEL_SKIP_RETURN_CODE 77)
set(ZORVEL_WITH_TOKEN ${PROJECT_SOURCE_DIR}/scripts/with-token.sh)
set(ZORVEL_VALGRIND_OPTIONS
    --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
    --show-leak-kinds=definite --track-origins=yes --quiet)

function(zorvel_add_test)
  cmake_parse_arguments(T "TOKEN;NAMESPACE;VALGRIND" "NAME;TOKENS;TIMEOUT;COST"
                        "COMMAND;LABELS;ENVIRONMENT;DEPENDS" ${ARGN})
  if(T_TOKEN AND ZORVEL_TOKEN_TESTS_NEED_NAMESPACE)
    set(T_NAMESPACE ON)
  endif()
  if(T_NAMESPACE AND NOT ZORVEL_STANDIN_NAMESPACE)
    return()
  endif()
  if(T_TOKEN)
    set(kind standin)
  else()
    set(kind unit)
  endif()
  if(ZORVEL_TEST_LABEL AND NOT ZORVEL_TEST_LABEL IN_LIST T_LABELS AND NOT ZORVEL_TEST_LABEL STREQUAL kind)
    return()
  endif()
  string(REGEX MATCHALL "\\$<TARGET_FILE(_DIR)?:[^>]+>" named "${T_COMMAND};${T_ENVIRONMENT}")
  list(TRANSFORM named REPLACE "^\\$<TARGET_FILE(_DIR)?:([^>]+)>$" "\\2")
  list(GET T_COMMAND 0 program)
  if(TARGET ${program})
    list(APPEND named ${program}) # add_test runs a program target named as the command
  endif()
  foreach(target IN LISTS named T_DEPENDS)
    add_dependencies(zorvel_test_programs ${target})
  endforeach()
  if(NOT T_TOKENS)
    set(T_TOKENS 1)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT ${ZORVEL_TEST_TIMEOUT})
  endif()

  set(variants ${T_NAME})
  if(T_VALGRIND AND ZORVEL_VALGRIND AND ZORVEL_SANITIZE STREQUAL "none")
    list(APPEND variants ${T_NAME}.valgrind)
  endif()

  foreach(name IN LISTS variants)
    set(cmd ${T_COMMAND})
    set(labels ${T_LABELS})
    if(name MATCHES "\\.valgrind$")
      set(cmd ${ZORVEL_VALGRIND} ${ZORVEL_VALGRIND_OPTIONS} ${cmd})
      list(APPEND labels valgrind)
    endif()
    if(T_TOKEN)
      set(cmd ${ZORVEL_WITH_TOKEN} ${CMAKE_CURRENT_BINARY_DIR}/token-${name} --tokens ${T_TOKENS} -- ${cmd})
    endif()
    list(APPEND labels ${kind})
    set(timeout ${T_TIMEOUT})
    if("valgrind" IN_LIST labels)
      math(EXPR timeout "${timeout} * ${ZORVEL_VALGRIND_TIMEOUT_FACTOR}")
    endif()
    add_test(NAME ${name} COMMAND ${cmd})
    set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${timeout}
                         SKIP_RETURN_CODE ${ZORVEL_SKIP_RETURN_CODE})
    if(T_COST AND (name MATCHES "\\.valgrind$" OR NOT T_VALGRIND))
      set_tests_properties(${name} PROPERTIES COST ${T_COST})
    endif()
    if(T_ENVIRONMENT)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
    endif()
  endforeach()
endfunction()
