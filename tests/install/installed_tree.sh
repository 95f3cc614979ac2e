# Sourced by the tests that run what `cmake --install` puts into a scratch prefix:
#   install_tree TREE PREFIX            installs TREE into PREFIX, made afresh
#   needs_mount_namespace NAME          ends the test with 77 where no mount namespace
#                                       can be made (unshare --mount, as root)
#   standin_config FILE LIBRARY [SETTING...]
#                                       writes an engine configuration for the token of
#                                       ZORVEL_TEST_USER_PIN on slot 0 of LIBRARY, with
#                                       the extra openssl settings (`enableRand = true;`)
#   with_engine_config FILE COMMAND...  runs COMMAND in a mount namespace of its own in
#                                       which FILE is /usr/local/zorvel/etc/zorvel.cfg
# The engine reads its configuration from /usr/local/zorvel/etc only (or /etc/zorvel): the
# namespace gives it one while the machine's stays as it is.

install_tree() {
  local tree="$1" prefix="$2"
  rm -rf "$prefix"
  cmake --install "$tree" --prefix "$prefix" >install.log || { cat install.log; echo "cmake --install failed" >&2; exit 1; }
}

needs_mount_namespace() {
  unshare --mount true 2>/dev/null || { echo "$1: needs a mount namespace (unshare --mount, as root): skipped"; exit 77; }
  case "$PWD/" in /usr/local/*) echo "$1: runs below /usr/local, which the namespace hides: skipped"; exit 77 ;; esac
}

standin_config() {
  local file="$1" library="$2"; shift 2
  cat >"$file" <<CFG
zorvel = { openssl = { lib = "$library"; user_pin = "${ZORVEL_TEST_USER_PIN:-1234}"; slotId = 0; $*}; };
CFG
}

with_engine_config() {
  local config="$1"; shift
  unshare --mount sh -c '
    mount -t tmpfs zorvel /usr/local && mkdir -p /usr/local/zorvel/etc && cp "$1" /usr/local/zorvel/etc/zorvel.cfg &&
    shift && exec "$@"' sh "$config" "$@"
}
