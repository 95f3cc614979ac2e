#!/usr/bin/env bash
# Valgrind, with the stand-in's suppressions (VALGRIND_OPTS from scripts/with-token.sh),
# still reports the application's own errors:
#   valgrind_reports_application.sh PROGRAM VALGRIND [OPTION...]
# PROGRAM (application_errors_program) uses the stand-in and then reads uninitialised
# bytes in its own code and in the application's C library. Passes when valgrind fails the
# run with --error-exitcode's status and reports both reads and nothing else: every error
# comes from the program's uninitialised block.
set -uo pipefail
program="$1"; shift

"$@" --log-file=valgrind.log "$program"
status=$?
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$status" -eq 99 ] || fail "valgrind exited with $status, expected its error exit code 99"

# One line per error: the frame it was raised in, its first caller, and whether its
# origin is the program's block.
summary="$(awk '
  { sub(/^==[0-9]+== /, "") }
  /^[A-Z]/ { if (header != "") print at "|" by "|" origin; header = $0; at = ""; by = ""; origin = "no"; next }
  /^ +at / && at == "" { at = $0; next }
  /^ +by / && by == "" && at != "" { by = $0 }
  /uninitialisedBytes/ { origin = "yes" }
  END { if (header != "") print at "|" by "|" origin }
' valgrind.log)"

grep -q 'branchInOwnCode' <<<"$(cut -d'|' -f1 <<<"$summary")" ||
  fail "the branch in the program's own code was not reported"
awk -F'|' '$1 !~ /application_errors_program/ && $2 ~ /parseWithTheCLibrary/' <<<"$summary" | grep -q . ||
  fail "the read inside the application's C library was not reported"
awk -F'|' '$3 != "yes"' <<<"$summary" | grep -q . &&
  fail "errors that do not come from the program's block were reported"

if [ "$failures" -gt 0 ]; then
  cat valgrind.log
  exit 1
fi
echo "ok: valgrind reported the program's own errors and nothing else"
