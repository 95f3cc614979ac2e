#!/usr/bin/env bash
# Runs p11suite against the stand-in token library on this machine, from a fresh clone:
# installs what is missing, builds the plain tree, provisions two fresh SoftHSM2 tokens in
# build/suite-token (two, so that the multi-slot test has two slots), writes a data file of
# 40000 bytes there, and runs p11suite with the tokens' user PIN and that file. It ends
# with the count of tests passed, of failures listed in suite/standin-expected-failures.txt
# and of anything else, and exits 0 only when nothing else failed. Extra arguments go to
# p11suite, for example
#
#   scripts/run-suite.sh --gtest_filter='NOT_Initialized.*'
#
# ZORVEL_USER_PIN sets the user PIN (default 1234). To run against another token library
# of the same name, put its directory on LD_LIBRARY_PATH.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"

"$here/install-deps.sh"
"$here/build.sh" none

token_dir="$root/build/suite-token"
pin="${ZORVEL_USER_PIN:-1234}"
settings="$("$here/provision-token.sh" --dir "$token_dir" --tokens 2 --pin "$pin")"
export "${settings?}" # SOFTHSM2_CONF=...

# Deterministic pseudo-random bytes, the same on every run.
data="$token_dir/data.bin"
head -c 40000 /dev/zero |
  openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f -iv 00000000000000000000000000000000 >"$data"

report="$token_dir/report.json"
rm -f "$report"
status=0
"$root/build/suite/p11suite" -p "$pin" -f "$data" "$@" --gtest_output="json:$report" || status=$?
echo "p11suite exit status: $status"
cmake -DREPORT="$report" -DEXPECTED_FAILURES="$root/suite/standin-expected-failures.txt" \
  -P "$root/tests/suite/cmake/SummarizeSuiteReport.cmake"
