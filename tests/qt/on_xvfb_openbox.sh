#!/bin/sh
# Runs a Qt view test on a display of its own: Xvfb at 96 DPI split into two
# monitors side by side, with openbox, so maximised and always-on-top are a
# real window manager's. The test waits for openbox itself.
set -u
xvfb="" ob=""
cleanup() {
  [ -n "$ob" ] && kill "$ob" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  ob="" xvfb=""
}
trap cleanup EXIT
trap 'exit 1' INT TERM

for n in $(seq 200 260); do
  if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then continue; fi
  Xvfb ":$n" -screen 0 2048x768x24 -dpi 96 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb=$!
  i=0
  while [ $i -lt 200 ] && [ ! -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb" 2>/dev/null; do
    sleep 0.05; i=$((i + 1))
  done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb" 2>/dev/null; then break; fi
  kill "$xvfb" 2>/dev/null; xvfb=""  # another display took it first
done
[ -n "$xvfb" ] || { echo "could not start Xvfb" >&2; exit 1; }
export DISPLAY=":$n" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

# Two monitors, 1280x768 and 768x768; without xrandr the test sees one.
if command -v xrandr >/dev/null; then
  xrandr --setmonitor QORVEL-A 1280/338x768/203+0+0 screen >/dev/null 2>&1 &&
    xrandr --setmonitor QORVEL-B 768/203x768/203+1280+0 none >/dev/null 2>&1
fi

openbox --sm-disable >/dev/null 2>&1 &
ob=$!
"$@"
rc=$?
cleanup
trap - EXIT
exit $rc
