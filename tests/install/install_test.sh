#!/usr/bin/env bash
# Installs a built tree into a fresh prefix and runs what it installed: p11suite lists the
# same tests as the tree's own, and OpenSSL loads the engine by id from the installed
# engines folder and initialises it against the installed stand-in. No installed binary
# holds a path into the build tree.
#   install_test.sh TREE TREE_P11SUITE ENGINES_SUBDIR STANDIN_SUBDIR
# Runs in a scratch directory against a SoftHSM2 token (SOFTHSM2_CONF, ZORVEL_TEST_USER_PIN).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../engine/needs_tool.sh"
. "$(dirname "${BASH_SOURCE[0]}")/installed_tree.sh"
needs_tool openssl
tree="$1" tree_suite="$2" engines_subdir="$3" standin_subdir="$4"
prefix="$PWD/prefix"
fail() { echo "install_test: $*" >&2; exit 1; }

install_tree "$tree" "$prefix"
engines="$prefix/$engines_subdir" standin="$prefix/$standin_subdir"
for f in "$prefix/bin/p11suite" "$engines/zorvel.so" "$standin/libzorvelP11.so" "$standin/libzorvelP11core.so" \
         "$prefix/share/doc/zorvel/zorvel.cfg"; do
  [ -f "$f" ] || fail "$f was not installed"
done

# Run paths, and any text outside the debugging information, that lead into the tree.
tree_path="$(cd "$tree" && pwd -P)"
for f in "$prefix/bin/p11suite" "$engines/zorvel.so" "$standin"/*.so; do
  if readelf -d "$f" | grep -E '\((RPATH|RUNPATH)\)' | grep -qF "$tree_path"; then
    fail "$f has a run path into the build tree: $(readelf -d "$f" | grep -E 'RPATH|RUNPATH')"
  fi
  objcopy --strip-debug "$f" stripped.so
  grep -qF "$tree_path" stripped.so && fail "$f holds the build tree's path $tree_path"
done

# The installed p11suite, on the installed stand-in, lists what the tree's p11suite lists.
LD_LIBRARY_PATH="$standin" "$prefix/bin/p11suite" --gtest_list_tests >installed.list
"$tree_suite" --gtest_list_tests >tree.list
diff tree.list installed.list >/dev/null || { diff tree.list installed.list | head; fail "the installed p11suite lists other tests"; }
[ -s installed.list ] || fail "the installed p11suite lists no test"

# The engine, by id from the installed engines folder, with a configuration of this test's own.
needs_mount_namespace install_test
standin_config zorvel.cfg "$standin/libzorvelP11.so"
out="$(with_engine_config zorvel.cfg env OPENSSL_ENGINES="$engines" openssl engine -t -c zorvel 2>&1)" ||
  { echo "$out"; fail "openssl engine -t zorvel failed"; }
echo "$out"
grep -qxF "(zorvel) Zorvel engine support" <<<"$out" || fail "OpenSSL did not load the installed engine"
grep -qF "[ available ]" <<<"$out" || fail "the installed engine did not initialise against the installed stand-in"
echo "install_test: installed into $prefix and ran p11suite and the engine from there"
