#!/usr/bin/env bash
# Runs the black-box tests: an Xvfb display at 96 DPI with openbox, an Xorg
# dummy display with two monitors and openbox when Xorg can start (root),
# a private runtime directory, and private /var/lib/qorvel and
# /etc/xdg/autostart (private-dirs.sh). Exits 77 when no mount namespace
# can be made.
#   tests/blackbox/run.sh command [args...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/deps.sh"

if ! { [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; } &&
   ! unshare --user --map-root-user --mount true 2>/dev/null; then
  echo "blackbox: cannot make a private mount namespace here; skipped" >&2
  exit 77
fi
[ "$(id -u)" -eq 0 ] || export QORVEL_BLACKBOX_USERNS=1

tmp="$(mktemp -d)"
chmod 0755 "$tmp"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -n "${QORVEL_XVFB_PID:-}" ] && kill "$QORVEL_XVFB_PID" 2>/dev/null || true
  [ -n "${QORVEL_XORG_PID:-}" ] && kill "$QORVEL_XORG_PID" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# openbox on a display, ready once it has announced itself on the root
# window; started again if it ended (a display not yet taking clients).
start_openbox() {
  local pid="" log="$tmp/openbox-${1#:}.log"
  for _ in $(seq 1200); do
    if [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; then
      DISPLAY="$1" openbox >>"$log" 2>&1 &
      pid=$!
      pids+=("$pid")
    fi
    DISPLAY="$1" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.05
  done
  echo "blackbox: openbox did not start on $1 within 60 s:" >&2
  cat "$log" >&2
  return 1
}

qorvel_start_xvfb
start_openbox "$DISPLAY"
# The second display only for the part that uses it: mutants name their parts.
if [[ " ${QORVEL_BLACKBOX_ONLY:-every-monitor} " != *" every-monitor "* ]]; then
  :
elif [ "$(id -u)" -eq 0 ] && [ -x /usr/lib/xorg/Xorg ] && qorvel_start_xorg_dummy "$tmp/xorg" 2>/dev/null; then
  start_openbox "$QORVEL_XORG_DISPLAY"
  export QORVEL_BLACKBOX_XORG_DISPLAY="$QORVEL_XORG_DISPLAY"
else
  echo "blackbox: no Xorg dummy display; the two-monitor test will be skipped" >&2
fi

mkdir -m 0700 "$tmp/runtime"
export XDG_RUNTIME_DIR="$tmp/runtime" QORVEL_BLACKBOX_TMP="$tmp"
# Never the machine's logind: no system bus at all.
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$tmp/no-system-bus"
unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM
locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$' && export LC_ALL=zh_CN.UTF-8
"$here/private-dirs.sh" "$@"
