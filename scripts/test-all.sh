#!/usr/bin/env bash
# Installs what is missing, builds every tree and runs every test:
#   build/        all tests, plus the valgrind runs
#   build-asan/   AddressSanitizer + UBSan, every test that does not need the stand-in's
#                 backend in a namespace of its own (the stand-in loads it into the
#                 application's there)
#   build-ubsan/  UBSan, the tests against the stand-in token (label "standin"), the
#                 stand-in in its namespace
#   build-release/ a Release build (-O3) of everything, built only, so that its warnings
#                 fail the run as the other trees' do
# The four trees build side by side, then the tests of the first three run side by side, so that every
# core stays busy. Extra arguments go to every ctest run (for example -R NAME).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
"$here/install-deps.sh" || exit 1

jobs="$(nproc)"
kinds=(none asan ubsan release)
tested=(none asan ubsan)
declare -A tree=([none]="$root/build" [asan]="$root/build-asan" [ubsan]="$root/build-ubsan"
                 [release]="$root/build-release")
extra=("$@")

# Runs one function in each of the given trees at once and waits for all; the status of
# each goes to $tree/<step>.status.
in_trees() {
  local step="$1" kind; shift
  for kind in "$@"; do
    mkdir -p "${tree[$kind]}"
    ( "$step" "$kind"; echo $? >"${tree[$kind]}/$step.status" ) &
  done
  wait
}
succeeded() { [ "$(cat "${tree[$1]}/$2.status" 2>/dev/null)" = 0 ]; }

build() { "$here/build.sh" "$1" >"${tree[$1]}/build.log" 2>&1; }
run_tests() {
  (cd "${tree[$1]}" && ctest --output-on-failure -j"$jobs" "${extra[@]}") >"${tree[$1]}/ctest.log" 2>&1
}

start=$SECONDS
echo "=== build: ${kinds[*]}"
in_trees build "${kinds[@]}"
status=0
for kind in "${kinds[@]}"; do
  if ! succeeded "$kind" build; then
    tail -n 60 "${tree[$kind]}/build.log"
    echo "=== $kind: build failed"
    status=1
  fi
done
echo "=== built in $((SECONDS - start)) s"
[ $status -eq 0 ] || { echo; echo "total: 0 passed, 0 failed (a build failed)"; exit 1; }

echo "=== test: ${tested[*]}"
in_trees run_tests "${tested[@]}"
passed=0 failed=0 skipped=0
for kind in "${tested[@]}"; do
  log="${tree[$kind]}/ctest.log"
  echo "=== $kind: test"
  cat "$log"
  succeeded "$kind" run_tests || status=1
  line="$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)"
  if [ -n "$line" ]; then
    total="$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")"
    bad="$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")"
    skips="$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$log")"
    passed=$((passed + total - bad - skips)); failed=$((failed + bad)); skipped=$((skipped + skips))
  elif ! grep -q '^No tests were found' "$log"; then
    failed=$((failed + 1)) # ctest itself did not finish
  fi # a filter (-R NAME) that matches no test of this tree counts nothing
done

echo
echo "total: $passed passed, $failed failed, $skipped skipped, in $((SECONDS - start)) s"
exit $status
