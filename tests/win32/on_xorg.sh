#!/bin/sh
# Runs a Windows test on the Xorg dummy display that scripts/test starts, in a
# prefix of its own (a wineserver follows one display). Without that display
# the test runs where it is and skips itself.
if [ -n "${QORVEL_XORG_DISPLAY:-}" ]; then
  export DISPLAY="$QORVEL_XORG_DISPLAY"
  export WINEPREFIX="$WINEPREFIX-xorg"
fi
exec "$(dirname "$0")/../../cmake/wine-run.sh" "$@"
