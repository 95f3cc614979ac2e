#!/usr/bin/env bash
# Configures and builds one tree:  build.sh [none|asan|ubsan] [cmake --build args...]
#   none  -> build/        asan -> build-asan/        ubsan -> build-ubsan/
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
kind="${1:-none}"; [ $# -gt 0 ] && shift
case "$kind" in
  none) tree="$root/build" ;;
  asan|ubsan) tree="$root/build-$kind" ;;
  *) echo "build.sh: unknown kind $kind" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$tree" -DZORVEL_SANITIZE="$kind" -DZORVEL_WERROR=ON >/dev/null
cmake --build "$tree" -j"$(nproc)" "$@"
