#!/usr/bin/env bash
# Installs what is missing, builds every tree and runs every test:
#   build/        all tests, plus the valgrind runs
#   build-asan/   AddressSanitizer + UBSan, the tests that stay out of the stand-in ("unit")
#   build-ubsan/  UBSan, the tests against the stand-in token ("standin")
# Extra arguments go to every ctest run (for example -R NAME).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
"$here/install-deps.sh" || exit 1

jobs="$(nproc)"
status=0
passed=0
failed=0
run_tree() {
  local kind="$1" tree="$2"; shift 2
  echo "=== $kind: build"
  mkdir -p "$tree"
  "$here/build.sh" "$kind" >"$tree/build.log" 2>&1 || {
    tail -n 60 "$tree/build.log"; echo "=== $kind: build failed"; status=1; failed=$((failed + 1)); return; }
  echo "=== $kind: test"
  local log="$tree/ctest.log"
  (cd "$tree" && ctest --output-on-failure -j"$jobs" "$@") | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  local line
  line="$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)"
  if [ -n "$line" ]; then
    local total bad
    total="$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")"
    bad="$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")"
    passed=$((passed + total - bad)); failed=$((failed + bad))
  fi
}

extra=("$@")
run_tree none "$root/build" "${extra[@]}"
run_tree asan "$root/build-asan" -L unit "${extra[@]}"
run_tree ubsan "$root/build-ubsan" -L standin "${extra[@]}"

echo
echo "total: $passed passed, $failed failed"
exit $status
