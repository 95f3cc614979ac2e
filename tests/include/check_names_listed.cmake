# Fails unless header_layout_names.def lists exactly the constants each header defines:
# shared ones as PKCS11_CONSTANT, the others as PKCS11_CONSTANT_OURS_ONLY or _P11KIT_ONLY.
#   cmake -DCOMPILER=cc -DOUR_INCLUDE_DIR=... -DP11KIT_INCLUDE_DIR=... -DNAMES=... -P this
foreach(var COMPILER OUR_INCLUDE_DIR P11KIT_INCLUDE_DIR NAMES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

# The object-like CK*_ macros with a value that a header defines.
function(defined_constants include_dir header out)
  execute_process(
    COMMAND ${COMPILER} -dM -E -x c -I${include_dir} -include ${header} /dev/null
    OUTPUT_VARIABLE macros RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot preprocess ${header}")
  endif()
  string(REGEX MATCHALL "#define CK[A-Z]?_[A-Za-z0-9_]+ [^\n]" lines "${macros}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#define ([A-Za-z0-9_]+) .*" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
  list(SORT names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The names listed with one kind of PKCS11_CONSTANT entry.
function(listed_constants kind out)
  file(STRINGS ${NAMES} lines REGEX "^${kind}\\(")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^${kind}\\(([A-Za-z0-9_]+)\\).*" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

function(expect_same_names what expected actual)
  set(missing ${expected})
  set(extra ${actual})
  if(actual)
    list(REMOVE_ITEM missing ${actual})
  endif()
  if(expected)
    list(REMOVE_ITEM extra ${expected})
  endif()
  if(missing OR extra)
    message(SEND_ERROR "${what}:\n  defined but not listed: ${missing}\n  listed but not defined: ${extra}")
  endif()
endfunction()

defined_constants(${OUR_INCLUDE_DIR} pkcs11.h ours)
defined_constants(${P11KIT_INCLUDE_DIR} p11-kit/pkcs11.h theirs)
listed_constants(PKCS11_CONSTANT shared)
listed_constants(PKCS11_CONSTANT_OURS_ONLY ours_only)
listed_constants(PKCS11_CONSTANT_P11KIT_ONLY p11kit_only)

expect_same_names("our pkcs11.h" "${ours}" "${shared};${ours_only}")
expect_same_names("p11-kit's pkcs11.h" "${theirs}" "${shared};${p11kit_only}")

list(LENGTH shared shared_count)
list(LENGTH ours_only ours_only_count)
list(LENGTH p11kit_only p11kit_only_count)
message(STATUS "constants listed: ${shared_count} shared, ${ours_only_count} ours only, "
               "${p11kit_only_count} p11-kit only")
