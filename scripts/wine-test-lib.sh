# For scripts/soak and scripts/figures-wine, which run the real qorvel.exe
# under Wine in the prefix $WINEPREFIX.

# Rewrites C:\mdb.ini whole: no hour allowed (locked) or every hour
# (compact), so the layout does not depend on the clock. The start-up flag
# is set, so no prompt holds the first tick back.
write_settings() {
  local text='[HOUR]\r\n' settings="$WINEPREFIX/drive_c/mdb.ini"
  [ "$1" = compact ] && for h in $(seq 0 23); do text+="hou$h=$h\\r\\n"; done
  printf "${text}[mm]\\r\\nnober=907\\r\\n[bb]\\r\\ntwo=1\\r\\n" >"$settings.new"
  mv "$settings.new" "$settings"
}

# The Wine process whose command line names qorvel.exe, in this prefix only.
qorvel_pid() {
  local pid
  for pid in $(pgrep -f 'qorvel\.exe' || true); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q 'wine-run.sh' && continue
    echo "$pid"
    return 0
  done
  return 1
}
