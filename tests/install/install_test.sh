#!/usr/bin/env bash
# Installs a built tree into a fresh prefix and runs what it installed: p11suite lists the
# same tests as the tree's own, and OpenSSL loads the engine by id from the installed
# engines folder and initialises it against the installed stand-in. No installed binary
# holds a path into the build tree.
#   install_test.sh TREE TREE_P11SUITE ENGINES_SUBDIR STANDIN_SUBDIR
# Runs in a scratch directory against a SoftHSM2 token (SOFTHSM2_CONF, ZORVEL_TEST_USER_PIN).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../engine/needs_tool.sh"
needs_tool openssl
tree="$1" tree_suite="$2" engines_subdir="$3" standin_subdir="$4"
prefix="$PWD/prefix"
rm -rf "$prefix"
fail() { echo "install_test: $*" >&2; exit 1; }

cmake --install "$tree" --prefix "$prefix" >install.log || { cat install.log; fail "cmake --install failed"; }
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

# The engine reads its configuration from /usr/local/zorvel/etc only (or /etc/zorvel):
# give it one in a mount namespace of this test's own, so that the machine's stays as it is.
unshare --mount true 2>/dev/null || { echo "install_test: needs a mount namespace (unshare --mount, as root): skipped"; exit 77; }
case "$PWD/" in /usr/local/*) echo "install_test: runs below /usr/local, which the namespace hides: skipped"; exit 77 ;; esac
config="$PWD/zorvel.cfg"
cat >"$config" <<CFG
zorvel = { openssl = { lib = "$standin/libzorvelP11.so"; user_pin = "${ZORVEL_TEST_USER_PIN:-1234}"; slotId = 0; }; };
CFG
out="$(unshare --mount sh -c '
  mount -t tmpfs zorvel /usr/local && mkdir -p /usr/local/zorvel/etc && cp "$1" /usr/local/zorvel/etc/ &&
  OPENSSL_ENGINES="$2" openssl engine -t -c zorvel' sh "$config" "$engines" 2>&1)" || { echo "$out"; fail "openssl engine -t zorvel failed"; }
echo "$out"
grep -qxF "(zorvel) Zorvel engine support" <<<"$out" || fail "OpenSSL did not load the installed engine"
grep -qF "[ available ]" <<<"$out" || fail "the installed engine did not initialise against the installed stand-in"
echo "install_test: installed into $prefix and ran p11suite and the engine from there"
