#!/usr/bin/env bash
# Takes docs/screenshots/locked.png: the real executable under Wine on a
# virtual display, with a settings file whose hours leave out the current one.
# Needs Xvfb, x11-utils (xwininfo), imagemagick and a CJK font
# (fonts-wqy-microhei). Options through the environment:
#   QORVEL_BUILD_DIR (build/windows), QORVEL_SHOT_DISPLAY (:97).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${QORVEL_BUILD_DIR:-build/windows}"
display="${QORVEL_SHOT_DISPLAY:-:97}"
out="$root/docs/screenshots/locked.png"

cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target qorvel >/dev/null
exe="$(cd "$build" && pwd)/src/app/qorvel.exe"

# A prefix of its own, so the font replacement below stays out of the tests.
export WINEPREFIX="$(cd "$build" && pwd)/screenshot-prefix"
export DISPLAY="$display"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1
# Never draw on somebody else's display.
if ! kill -0 "$xvfb" 2>/dev/null; then
  echo "Xvfb could not start on $display (in use?); set QORVEL_SHOT_DISPLAY" >&2
  exit 1
fi

cmake/wine-run.sh cmd /c exit >/dev/null 2>&1 || true  # sets the prefix up once
# Windows ships 微软雅黑 (Microsoft YaHei); WenQuanYi Micro Hei is the closest
# free font with the same coverage.
cmake/wine-run.sh reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '微软雅黑' \
  /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1

# Only the hour twelve hours away is allowed, so the window locks. The start-up
# flag is set, so no registration prompt covers the window.
allowed=$(( ($(date +%-H) + 12) % 24 ))
printf '[HOUR]\r\nhou%d=%d\r\n[mm]\r\nnober=907\r\n[bb]\r\ntwo=1\r\n' "$allowed" "$allowed" \
  >"$WINEPREFIX/drive_c/mdb.ini"

cmake/wine-run.sh "$exe" >/dev/null 2>&1 &
for _ in $(seq 1 60); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Qorvel"' && break
  sleep 0.5
done
sleep 2  # a few ticks: locked, clock running

mkdir -p "$(dirname "$out")"
import -window root -display "$display" png:- | convert png:- -strip -colors 64 "PNG8:$out"
echo "Wrote $out ($(stat -c %s "$out") bytes)"
