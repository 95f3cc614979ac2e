#!/usr/bin/env bash
# The engine loaded through an openssl.cnf as engine/README.md shows (dynamic_path,
# init = 1), in the openssl command and in a small host program: each runs and exits 0,
# and the token library has nothing to complain about.
#   openssl_cnf_test.sh ENGINE TOKEN_LIBRARY HOST_PROGRAM
# Run in a scratch directory: the test engine reads its configuration below it.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/needs_tool.sh"
needs_tool openssl
engine="$1"
token_library="$2"
host="$3"

mkdir -p usr/local/zorvel/etc
cat > usr/local/zorvel/etc/zorvel.cfg <<CFG
zorvel = { openssl = { lib = "$token_library"; user_pin = "${ZORVEL_TEST_USER_PIN:-1234}"; slotId = 0;
                       enableRSA = true; }; };
CFG
cat > openssl.cnf <<CNF
openssl_conf = openssl_init

[openssl_init]
engines = engine_section

[engine_section]
zorvel = zorvel_section

[zorvel_section]
engine_id = zorvel
dynamic_path = $engine
default_algorithms = RSA
init = 1
CNF
export OPENSSL_CONF="$PWD/openssl.cnf"

failures=0
check() { # check NAME COMMAND...: exit status 0 and no complaint from the token library
  local name="$1"; shift
  "$@" >"out.$name" 2>"err.$name"
  local status=$?
  if [ "$status" -eq 0 ] && ! grep -q '^libzorvelP11:' "err.$name"; then
    echo "ok   $name"
  else
    echo "FAIL $name (exit status $status)"; sed 's/^/     /' "out.$name" "err.$name"; failures=$((failures + 1))
  fi
}

check openssl_version openssl version
check host_program "$host"
exit $((failures > 0))
