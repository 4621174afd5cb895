#!/usr/bin/env bash
# Takes the README's screenshots under Wine on a virtual display:
#   scripts/screenshot.sh locked    docs/screenshots/locked.png: the real
#       executable, with a settings file whose hours leave out the current one;
#   scripts/screenshot.sh settings  docs/screenshots/settings.png: the settings
#       window over a sample file (tests/win32/settings_preview.exe);
#   scripts/screenshot.sh two-monitors  docs/screenshots/two-monitors.png:
#       the locked layout across two monitors, on Xorg's dummy driver
#       (needs root, xserver-xorg-video-dummy and xrandr).
#   scripts/screenshot.sh linux-locked  docs/screenshots/linux-locked.png:
#       the native Linux program (build/linux), locked, in a Chinese locale,
#       with private settings (tests/blackbox/private-dirs.sh);
#   scripts/screenshot.sh linux-notice  docs/screenshots/linux-notice.png:
#       the same program at 10:55 (libfaketime) with only hour 10 allowed.
# Needs Xvfb, openbox, x11-utils, xdotool, imagemagick and a CJK font
# (fonts-wqy-microhei); openbox frames the windows, as a desktop would.
# Options through the environment:
#   QORVEL_BUILD_DIR (build/windows, or build/linux), QORVEL_SHOT_DISPLAY (:97).
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:?usage: scripts/screenshot.sh locked|settings|two-monitors|linux-locked|linux-notice}"
if [ "$what" = linux-locked ] || [ "$what" = linux-notice ]; then
  build="${QORVEL_BUILD_DIR:-build/linux}"
  display="${QORVEL_SHOT_DISPLAY:-:97}"
  out="$PWD/docs/screenshots/$what.png"
  cmake --preset linux -B "$build" >/dev/null
  cmake --build "$build" --target qorvel >/dev/null
  exe="$(cd "$build" && pwd)/src/app/linux/qorvel"
  state="$(mktemp -d)"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$! wm="" guard=""
  trap 'kill $guard $wm $xvfb 2>/dev/null || true; rm -rf "$state"' EXIT
  export DISPLAY="$display"
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  # Never draw on somebody else's display.
  kill -0 "$xvfb" 2>/dev/null || { echo "Xvfb could not start on $display (in use?); set QORVEL_SHOT_DISPLAY" >&2; exit 1; }
  openbox >/dev/null 2>&1 &
  wm=$!
  mkdir -p "$state/settings" "$state/autostart" "$state/runtime"
  chmod 0700 "$state/runtime"
  # Locked: only the hour twelve hours away is allowed; for the notice, the
  # clock starts at 10:55 with only hour 10 allowed. Registered: no prompt.
  allowed=$(( ($(date +%-H) + 12) % 24 )) preload="" fake="" title='^Qorvel$'
  if [ "$what" = linux-notice ]; then
    allowed=10 preload="$(compgen -G '/usr/lib/*/faketime/libfaketime.so.1' | head -n 1)"
    fake="@2026-12-07 10:55:00" title='^还有5分钟锁屏$'
  fi
  printf '[HOUR]\r\nhou%d=%d\r\n[mm]\r\nnober=907\r\n[bb]\r\ntwo=1\r\n' "$allowed" "$allowed" \
    >"$state/settings/mdb.ini"
  LD_PRELOAD="$preload" FAKETIME="$fake" LC_ALL=zh_CN.UTF-8 XDG_RUNTIME_DIR="$state/runtime" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$state/no-bus" \
    QORVEL_SETTINGS_DIR="$state/settings" QORVEL_AUTOSTART_DIR="$state/autostart" \
    tests/blackbox/private-dirs.sh "$exe" >/dev/null 2>&1 &
  guard=$!
  locked=""
  for _ in $(seq 300); do
    for w in $(xdotool search --onlyvisible --pid "$guard" --name "$title" 2>/dev/null); do
      xprop -id "$w" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_ABOVE && locked=1
    done
    [ -n "$locked" ] && break
    sleep 0.1
  done
  [ -n "$locked" ] || { echo "the Linux program showed no $title" >&2; exit 1; }
  sleep 2  # let it paint; the locked clock ticks meanwhile
  mkdir -p "$(dirname "$out")"
  crop=()  # the notice: only the screen's corner, where it and the compact window are
  [ "$what" = linux-notice ] && crop=(-crop 320x80+0+0 +repage)
  import -window root -display "$display" png:- | convert png:- "${crop[@]}" -strip -colors 64 "PNG8:$out"
  echo "Wrote $out ($(stat -c %s "$out") bytes)"
  exit 0
fi
case "$what" in
  locked | two-monitors) target=qorvel; program=src/app/qorvel.exe ;;
  settings) target=settings_preview; program=tests/win32/settings_preview.exe ;;
  *) echo "usage: scripts/screenshot.sh locked|settings|two-monitors" >&2; exit 2 ;;
esac
root="$PWD"
build="${QORVEL_BUILD_DIR:-build/windows}"
display="${QORVEL_SHOT_DISPLAY:-:97}"
out="$root/docs/screenshots/$what.png"

cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target "$target" >/dev/null
exe="$(cd "$build" && pwd)/$program"

# A prefix of its own, so the font replacement below stays out of the tests.
export WINEPREFIX="$(cd "$build" && pwd)/screenshot-prefix"
export DISPLAY="$display"
if [ "$what" = two-monitors ]; then
  source scripts/deps.sh
  qorvel_start_xorg_dummy "$(cd "$build" && pwd)/xorg-shot"
  display="$QORVEL_XORG_DISPLAY" xvfb="$QORVEL_XORG_PID"
  export DISPLAY="$display" WINEPREFIX="$WINEPREFIX-xorg"
else
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
fi
wm=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1
# Never draw on somebody else's display.
if ! kill -0 "$xvfb" 2>/dev/null; then
  echo "Xvfb could not start on $display (in use?); set QORVEL_SHOT_DISPLAY" >&2
  exit 1
fi

openbox >/dev/null 2>&1 &
wm=$!

cmake/wine-run.sh cmd /c exit >/dev/null 2>&1 || true  # sets the prefix up once
# The tests' prefixes leave windows unmanaged; here the window manager draws
# the frames and caption buttons.
cmake/wine-run.sh reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1
# Windows ships 微软雅黑 (Microsoft YaHei); WenQuanYi Micro Hei is the closest
# free font with the same coverage.
cmake/wine-run.sh reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '微软雅黑' \
  /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1

if [ "$what" != settings ]; then
  # Only the hour twelve hours away is allowed, so the window locks. The
  # start-up flag is set, so no registration prompt covers the window.
  allowed=$(( ($(date +%-H) + 12) % 24 ))
  printf '[HOUR]\r\nhou%d=%d\r\n[mm]\r\nnober=907\r\n[bb]\r\ntwo=1\r\n' "$allowed" "$allowed" \
    >"$WINEPREFIX/drive_c/mdb.ini"
  title='^Qorvel$'
else
  title='^设置$'
fi

cmake/wine-run.sh "$exe" >/dev/null 2>&1 &
window=""
for _ in $(seq 1 60); do
  window=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1) || true
  [ -n "$window" ] && break
  sleep 0.5
done
if [ -z "$window" ]; then
  echo "the $what window did not appear" >&2
  exit 1
fi
sleep 2  # let it paint; the locked clock ticks meanwhile

mkdir -p "$(dirname "$out")"
if [ "$what" != settings ]; then
  window=root
else
  # The window manager's frame, caption buttons and all, is the client's parent.
  frame=$(xwininfo -tree -id "$window" | sed -n 's/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p')
  case "$(xwininfo -tree -id "$window" | sed -n 's/^ *Root window id: \(0x[0-9a-f]*\).*/\1/p')" in
    "$frame") ;;
    *) window="$frame" ;;
  esac
fi
import -window "$window" -display "$display" png:- | convert png:- -strip -colors 64 "PNG8:$out"
echo "Wrote $out ($(stat -c %s "$out") bytes)"
