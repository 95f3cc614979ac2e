#!/usr/bin/env bash
# Configures and builds one tree:  build.sh [none|asan|ubsan|release] [cmake --build args...]
#   none  -> build/        asan -> build-asan/        ubsan -> build-ubsan/
#   release -> build-release/ (no sanitizer, CMAKE_BUILD_TYPE=Release: -O3 warns of what -O2 does not)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
kind="${1:-none}"; [ $# -gt 0 ] && shift
case "$kind" in
  none) tree="$root/build" ;;
  asan|ubsan|release) tree="$root/build-$kind" ;;
  *) echo "build.sh: unknown kind $kind" >&2; exit 2 ;;
esac
# Ninja where the tree is new: it starts a target's compilations before the libraries it
# links are built, so that long ones (p11suite's tests) start early. A tree made with
# another generator keeps it.
generator=()
[ -f "$tree/CMakeCache.txt" ] || generator=(-G Ninja)
# The ubsan tree is for the tests against the stand-in; the asan tree runs UBSan on the rest.
label=""
[ "$kind" = ubsan ] && label=standin
sanitize="$kind" type=RelWithDebInfo
[ "$kind" = release ] && sanitize=none type=Release
cmake -S "$root" -B "$tree" "${generator[@]}" -DZORVEL_SANITIZE="$sanitize" -DZORVEL_TEST_LABEL="$label" \
  -DCMAKE_BUILD_TYPE="$type" -DZORVEL_WERROR=ON >/dev/null
cmake --build "$tree" -j"$(nproc)" "$@"
