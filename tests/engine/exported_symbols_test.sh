#!/usr/bin/env bash
# The engine library exports its interface in C names and nothing else: every defined
# dynamic symbol is one of the globals of its version script, each of them is there, and
# none is a C++ (mangled) name.
#   exported_symbols_test.sh ENGINE_LIBRARY VERSION_SCRIPT
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/needs_tool.sh"
needs_tool nm
library="$1"
script="$2"

exported="$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)" || exit 1
declared="$(sed -n '/global:/,/local:/p' "$script" | grep -oE '^ +[A-Za-z_][A-Za-z0-9_]*;' | tr -d ' ;' | sort)"
status=0
mangled="$(grep -E '^_Z' <<<"$exported")"
[ -z "$mangled" ] || { echo "C++ symbols exported:"; echo "$mangled"; status=1; }
extra="$(comm -23 <(echo "$exported") <(echo "$declared"))"
[ -z "$extra" ] || { echo "exported but not declared:"; echo "$extra"; status=1; }
missing="$(comm -13 <(echo "$exported") <(echo "$declared"))"
[ -z "$missing" ] || { echo "declared but not exported:"; echo "$missing"; status=1; }
[ $status -eq 0 ] && echo "$(wc -l <<<"$exported") symbols exported, all declared, none mangled"
exit $status
