#!/usr/bin/env bash
# Runs the examples of a README as its reader would: every `sh` block of one section, in
# order, in an empty folder, against the engine and the stand-in that `cmake --install`
# puts into a scratch prefix, on a fresh token. The first command that fails fails the test.
#   readme_examples_test.sh README SECTION TREE ENGINES_SUBDIR STANDIN_SUBDIR
# SECTION is the heading's text (without "## "); the section ends at the next such heading.
# Runs in a scratch directory against a SoftHSM2 token (SOFTHSM2_CONF, ZORVEL_TEST_USER_PIN).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../engine/needs_tool.sh"
. "$(dirname "${BASH_SOURCE[0]}")/installed_tree.sh"
needs_tool openssl
readme="$1" section="$2" tree="$3" engines_subdir="$4" standin_subdir="$5"
prefix="$PWD/prefix"
fail() { echo "readme_examples_test: $*" >&2; exit 1; }

# The script: a trace of each command, a stop at the first that fails, and the blocks.
{
  echo 'set -eEuo pipefail -x'
  echo "trap '{ set +x; } 2>/dev/null; echo \"readme_examples_test: this command failed: \$BASH_COMMAND\" >&2' ERR"
  awk -v heading="## $section" '
    /^```/ { if (fence) { fence = 0; block = 0 } else { fence = 1; block = inside && $0 == "```sh"; found += block }; next }
    /^## / && !fence { inside = ($0 == heading) }
    block { print }
    END { exit found == 0 }' "$readme"
} >examples.sh || fail "$readme has no sh block in the section \"$section\""

# A command that gives the engine a key file reads the key through it (-keyform engine,
# -CAkeyform engine for -CAkey): else OpenSSL goes on in software with the file's
# placeholders when the engine cannot be used, and the example succeeds without the token.
unguarded="$(sed -e ':a' -e '/\\$/N; s/\\\n//; ta' examples.sh | awk '
  / -engine zorvel/ && ((/ -(in)?key / && !/ -keyform engine/) || (/ -CAkey / && !/ -CAkeyform engine/))')"
[ -z "$unguarded" ] || fail "a token-key example reads its key file in software when the engine is unavailable: $unguarded"

install_tree "$tree" "$prefix"
needs_mount_namespace readme_examples_test
standin_config zorvel.cfg "$prefix/$standin_subdir/libzorvelP11.so" \
  "enableRSA = true; enableDigest = true; enableRand = true;"
rm -rf examples && mkdir examples
with_engine_config zorvel.cfg env OPENSSL_ENGINES="$prefix/$engines_subdir" \
  bash -c 'cd examples && exec bash ../examples.sh' || fail "an example of $readme failed (above)"
echo "readme_examples_test: every example of \"$section\" in $readme ran"
