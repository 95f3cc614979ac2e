#!/usr/bin/env bash
# The engine's benchmark beside a syslog daemon, as on a production host:
#
#   engine/bench/run.sh BUILD_DIR [SECONDS] [ENGINE_LIBRARY]
#
# Runs in a private mount namespace (needs root) whose /dev holds the usual device nodes
# and the socket /dev/log of an rsyslogd of its own, which writes the engine's facility
# (local1) to a file; the machine's /dev and syslog are left alone. ENGINE_LIBRARY
# defaults to BUILD_DIR's bench engine (another build's, to compare).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "$1" && pwd)"
seconds="${2:-2}"
engine="${3:-$build/engine/bench/libezorvel_bench.so}"
rsyslogd="$(command -v rsyslogd || echo /usr/sbin/rsyslogd)"
[ -x "$rsyslogd" ] || { echo "run.sh: rsyslogd not installed (scripts/install-deps.sh)" >&2; exit 2; }
work="$(mktemp -d /tmp/zorvel-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT

export work build seconds engine rsyslogd here
unshare --mount --propagation private bash -euo pipefail -c '
  mkdir "$work/dev"
  mount -t tmpfs tmpfs "$work/dev"
  for node in null zero full random urandom tty; do
    [ -e "/dev/$node" ] || continue
    touch "$work/dev/$node"
    mount --bind "/dev/$node" "$work/dev/$node"
  done
  ln -s /proc/self/fd "$work/dev/fd"
  # --rbind: a plain bind would leave the node binds behind, and /dev/null an empty file.
  mount --rbind "$work/dev" /dev
  for node in null urandom; do
    [ -c "/dev/$node" ] || { echo "run.sh: /dev/$node is no device in the namespace" >&2; exit 1; }
  done

  cat > "$work/rsyslog.conf" <<CONF
module(load="imuxsock" SysSock.Name="/dev/log")
global(workDirectory="$work")
local1.* action(type="omfile" file="$work/engine.log")
CONF
  "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslogd.pid" &
  daemon=$!
  for i in $(seq 50); do [ -S /dev/log ] && break; sleep 0.1; done
  [ -S /dev/log ] || { echo "run.sh: rsyslogd did not open /dev/log" >&2; kill $daemon; exit 1; }

  status=0
  "$here/../../scripts/with-token.sh" "$work/token" -- \
    "$build/engine/bench/zorvel_pkey_bench" "$engine" "$build/token/libzorvelP11.so" "$seconds" || status=$?
  kill $daemon
  wait $daemon || true
  echo "syslog daemon: $(wc -l < "$work/engine.log") engine lines written"
  exit $status
'
