#!/usr/bin/env bash
# Takes docs/screenshots/settings.png: the settings window over a sample
# settings file (tests/win32/settings_preview.exe) under Wine on a virtual
# display. Needs Xvfb, xdotool, imagemagick and a CJK font
# (fonts-wqy-microhei). Options through the environment:
#   QORVEL_BUILD_DIR (build/windows), QORVEL_SHOT_DISPLAY (:97).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${QORVEL_BUILD_DIR:-build/windows}"
display="${QORVEL_SHOT_DISPLAY:-:97}"
out="$root/docs/screenshots/settings.png"

cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target settings_preview >/dev/null
preview="$(cd "$build" && pwd)/tests/win32/settings_preview.exe"

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
# The hour list asks for 微软雅黑 (Microsoft YaHei); WenQuanYi Micro Hei is the
# closest free font with the same coverage.
cmake/wine-run.sh reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '微软雅黑' \
  /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1

cmake/wine-run.sh "$preview" >/dev/null 2>&1 &
window=""
for _ in $(seq 1 60); do
  window=$(xdotool search --onlyvisible --name '^设置$' 2>/dev/null | head -n 1) || true
  [ -n "$window" ] && break
  sleep 0.5
done
if [ -z "$window" ]; then
  echo "the settings window did not appear" >&2
  exit 1
fi
sleep 1  # let it paint

mkdir -p "$(dirname "$out")"
import -window "$window" png:- | convert png:- -strip -colors 64 "PNG8:$out"
echo "Wrote $out ($(stat -c %s "$out") bytes)"
