#!/usr/bin/env bash
# Checks the stand-in's ELF interface:  check_exports.sh LIBZORVELP11 LIBZORVELP11CORE NAMESPACE
# libzorvelP11 exports exactly the five functions of the token library, is named by its
# soname and does not need libcrypto; the core exports only its interface record and,
# where it has a namespace of its own (NAMESPACE 1), the pthread_key_create that guards
# that namespace's thread keys.
set -euo pipefail
library="$1"
core="$2"
core_exports="zorvel_core_interface "
[ "$3" = 1 ] && core_exports="pthread_key_create $core_exports"
status=0

exported() { nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' '; }
expect() {
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: got '$2', expected '$3'"
    status=1
  else
    echo "ok: $1"
  fi
}

expect "libzorvelP11 exports" "$(exported "$library")" \
  "C_DestroyObject C_GetFunctionList C_GetZorvelFunctionList provokeCommunicationFail setHSM "
expect "libzorvelP11 soname" "$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')" "libzorvelP11.so"
expect "libzorvelP11 needs libcrypto" "$(readelf -d "$library" | grep -c 'NEEDED.*libcrypto' || true)" "0"
expect "core exports" "$(exported "$core")" "$core_exports"
exit $status
