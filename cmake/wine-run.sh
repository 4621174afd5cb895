#!/bin/sh
# Runs a Windows program under Wine, in a prefix of the build tree's own.
# WINEPREFIX comes from the test's environment; the first caller sets the
# prefix up, the others wait for it.
set -e
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs in a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine takes its ANSI code page from the locale: 936, as on the target systems.
export LC_ALL="${QORVEL_WINE_LOCALE:-zh_CN.UTF-8}"

mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.qorvel-ready" ]; then
    wineboot -i >/dev/null 2>&1 || true
    # Xvfb has no window manager: without this Wine waits on every hide.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.qorvel-ready"
  fi
) 9>"$WINEPREFIX.lock"

exec wine "$@"
