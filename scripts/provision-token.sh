#!/usr/bin/env bash
# Creates SoftHSM2 tokens in a folder of their own and prints the settings to use them.
#
#   provision-token.sh [--dir DIR] [--tokens N] [--pin PIN] [--so-pin PIN]
#
# DIR (default ./token-home, or ZORVEL_TOKEN_DIR) gets softhsm2.conf and a fresh token
# store (a token store there before is removed). Token i (0-based) is labelled
# "zorvel<i>"; all share the user PIN (default 1234, or ZORVEL_USER_PIN) and the SO PIN
# (default 12345678, or ZORVEL_SO_PIN). Prints the SOFTHSM2_CONF setting to use them.
set -euo pipefail

dir="${ZORVEL_TOKEN_DIR:-$PWD/token-home}"
tokens=1
pin="${ZORVEL_USER_PIN:-1234}"
so_pin="${ZORVEL_SO_PIN:-12345678}"
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir="$2"; shift 2 ;;
    --tokens) tokens="$2"; shift 2 ;;
    --pin) pin="$2"; shift 2 ;;
    --so-pin) so_pin="$2"; shift 2 ;;
    *) echo "provision-token.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

case "$tokens" in
  '' | *[!0-9]*) echo "provision-token.sh: --tokens needs a number, got '$tokens'" >&2; exit 2 ;;
esac

command -v softhsm2-util >/dev/null || { echo "provision-token.sh: softhsm2-util not found (apt-get install softhsm2)" >&2; exit 1; }

mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
rm -rf "$dir/tokens"
mkdir -p "$dir/tokens"
cat > "$dir/softhsm2.conf" <<CONF
directories.tokendir = $dir/tokens
objectstore.backend = file
log.level = ERROR
slots.removable = false
CONF

export SOFTHSM2_CONF="$dir/softhsm2.conf"
for ((i = 0; i < tokens; i++)); do
  softhsm2-util --init-token --free --label "zorvel$i" --so-pin "$so_pin" --pin "$pin" >/dev/null
done
echo "SOFTHSM2_CONF=$SOFTHSM2_CONF"
