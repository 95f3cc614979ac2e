#!/usr/bin/env bash
# Runs a command against fresh SoftHSM2 tokens of its own.
#
#   with-token.sh DIR [--tokens N] -- COMMAND [ARG...]
#
# Provisions N tokens (default 1) in DIR with the default PINs, exports SOFTHSM2_CONF,
# ZORVEL_TEST_USER_PIN and ZORVEL_TEST_TOKENS (N), adds the stand-in's valgrind
# suppressions to VALGRIND_OPTS, and runs COMMAND in DIR.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
dir="$1"; shift
tokens=1
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case "$1" in
    --tokens) tokens="$2"; shift 2 ;;
    *) echo "with-token.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ "${1:-}" = "--" ] && shift
[ $# -gt 0 ] || { echo "with-token.sh: no command" >&2; exit 2; }

"$here/provision-token.sh" --dir "$dir" --tokens "$tokens" >/dev/null
export SOFTHSM2_CONF="$(cd "$dir" && pwd)/softhsm2.conf"
export ZORVEL_TEST_USER_PIN="${ZORVEL_USER_PIN:-1234}"
export ZORVEL_TEST_TOKENS="$tokens"
# For a COMMAND run under valgrind: what memcheck cannot see inside the stand-in's namespace,
# and stacks deep enough for the suppressions to see where a call came from.
export VALGRIND_OPTS="${VALGRIND_OPTS:+$VALGRIND_OPTS }--suppressions=$here/valgrind-standin.supp --num-callers=50"
cd "$dir"
exec "$@"
