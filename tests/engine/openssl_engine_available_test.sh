#!/usr/bin/env bash
# The openssl command finds the engine by id through OPENSSL_ENGINES and reports it
# available (which loads and initialises the token library).
#   openssl_engine_available_test.sh ENGINES_DIR TOKEN_LIBRARY
# Run in a scratch directory: the test engine reads its configuration below it.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/needs_tool.sh"
needs_tool openssl
engines="$1"
token_library="$2"

mkdir -p usr/local/zorvel/etc
cat > usr/local/zorvel/etc/zorvel.cfg <<CFG
zorvel = { openssl = { lib = "$token_library"; user_pin = "${ZORVEL_TEST_USER_PIN:-1234}"; slotId = 0; }; };
CFG

out="$(OPENSSL_ENGINES="$engines" openssl engine -t -c zorvel)"
echo "$out"
grep -qxF "(zorvel) Zorvel engine support" <<<"$out"
grep -qF "[ available ]" <<<"$out"
