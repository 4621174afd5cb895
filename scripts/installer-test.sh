#!/usr/bin/env bash
# Checks the release build and its installer under Wine, in a fresh prefix of
# its own: size and imports of qorvel.exe and qorvel-guardian.exe, then
# install over a folder at C:\mdb.ini, the guardian bringing the guard back,
# install over the running program, the parent's road through the settings
# window over the guardian, refused proofs, a suspended guard, a kill loop in a
# locked hour, the time zone, uninstall. Expects build/windows-release (the
# installer) and build/windows (tests/win32/guard_probe.exe) to be built;
# scripts/test builds both. Uses $DISPLAY, or starts Xvfb when it is unset or
# does not answer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
root="$PWD"

version=$(sed -n 's/^project(Qorvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
release="$root/build/windows-release"
exe="$release/src/app/qorvel.exe"
guardian="$release/src/app/qorvel-guardian.exe"
installer="$release/Qorvel-$version-setup.exe" probe="$root/build/windows/tests/win32/guard_probe.exe"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# --- The release executables --------------------------------------------------
# Only DLLs every Windows has; a MinGW runtime DLL here means a broken static link.
# imm32.dll: the password prompt keeps the input method on; wtsapi32.dll and
# userenv.dll: the guardian starts the guard in the user's session.
allowed="advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll user32.dll uxtheme.dll
  shell32.dll ole32.dll version.dll imm32.dll wtsapi32.dll userenv.dll"
for file in "$exe" "$guardian"; do
  name=$(basename "$file")
  size=$(stat -c %s "$file")
  echo "$name (release): $size bytes ($(( (size + 1023) / 1024 )) KB; goal at most 400 KB)"
  [ "$size" -le $((400 * 1024)) ] && pass "$name size" || fail "$name is $size bytes, above 400 KB"
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " $(echo $allowed) " in
      *" $dll "*) pass "$name imports $dll" ;;
      *) fail "$name imports $dll, which is not a system DLL" ;;
    esac
  done
done

grep -qF "Qorvel-$version-setup.exe" README.md && pass "README names Qorvel-$version-setup.exe" ||
  fail "README.md does not name Qorvel-$version-setup.exe"

# --- A fresh prefix -------------------------------------------------------------
export WINEPREFIX="$release/install-prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=zh_CN.UTF-8
xvfb_started=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_started" ] && kill "$QORVEL_XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
# Without an X server every guard ends within a second, before it asks for the
# first-run file: a $DISPLAY whose server has gone is set aside, not used.
if [ -n "${DISPLAY:-}" ] && ! timeout 20 xdpyinfo >/dev/null 2>&1; then
  echo "DISPLAY=$DISPLAY does not answer; starting Xvfb"
  unset DISPLAY
fi
if [ -z "${DISPLAY:-}" ]; then
  qorvel_start_xvfb
  xvfb_started=1
fi
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w

c="$WINEPREFIX/drive_c"
installed="$c/Program Files/Qorvel"
link="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Qorvel.lnk"
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qorvel'

# Polls a condition (a shell command) for up to $2 seconds.
wait_for() {
  local deadline=$((SECONDS + ${2:-120}))
  until eval "$1"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}
# Linux process ids of the program named by the pattern, running in this prefix.
pids_of() {
  local p
  for p in /proc/[0-9]*; do
    { tr '\0' '\n' <"$p/cmdline"; } 2>/dev/null | grep -qi "$1" || continue
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "${p#/proc/}"
  done
}
qorvel_pids() { pids_of 'qorvel\\qorvel\.exe$'; }
reg_has() { wine reg query "$1" /v "$2" >/dev/null 2>&1; }
probe() { wine "$probe" "$@" 2>/dev/null | tr -d '\r'; }
service_key='HKLM\System\CurrentControlSet\Services\QorvelGuardian'
log="$c/ProgramData/Qorvel/guardian.log"
# Wine stops its services when no program runs; a signed-in desktop has some.
desktop() { wine "$probe" desktop >/dev/null 2>&1 & }

# A child's folder where the settings file goes: moved aside, never followed.
mkdir -p "$c/mdb.ini/inside"

# --- Silent install -------------------------------------------------------------
desktop
timeout 300 wine "$installer" /S && pass "silent install exits 0" || fail "silent install failed"
[ -f "$installed/qorvel.exe" ] && cmp -s "$exe" "$installed/qorvel.exe" && pass "qorvel.exe installed" ||
  fail "qorvel.exe missing or different in Program Files\\Qorvel"
[ -f "$installed/uninstall.exe" ] && pass "uninstaller installed" || fail "uninstall.exe missing"
cmp -s "$guardian" "$installed/qorvel-guardian.exe" && pass "qorvel-guardian.exe installed" ||
  fail "qorvel-guardian.exe missing or different"
service=$(wine reg query "$service_key" 2>/dev/null | tr -d '\r')
for line in 'ImagePath    REG_SZ    "C:\Program Files\Qorvel\qorvel-guardian.exe"' 'Start    REG_DWORD    0x2' \
  'ObjectName    REG_SZ    LocalSystem'; do
  grep -qF "$line" <<<"$service" && pass "service: $line" || fail "service lacks '$line': $service"
done
[ -f "$link" ] && pass "Start-menu shortcut" || fail "no Start-menu shortcut"

# The version resource's strings (UTF-16: each key, then its value) and the
# shortcut's paths, as they stand in the files.
info=" $(strings -el "$installed/qorvel.exe" | tr '\n' ' ') "
for pair in 080404b0 "ProductName Qorvel" "FileVersion $version" "ProductVersion $version"; do
  grep -qF " $pair " <<<"$info" && pass "resources: $pair" || fail "resources lack '$pair'"
done
LC_ALL=C grep -qaP '\xb6\x5b\x7f\x95' "$installed/qorvel.exe" && pass "Chinese FileDescription (家长)" ||
  fail "the resources lack 家长"
# Read whole first: a grep -q that stops early would end strings with SIGPIPE (pipefail).
shortcut="$(strings "$link"; strings -el "$link")"
grep -qiF 'C:\Program Files\Qorvel\qorvel.exe' <<<"$shortcut" && pass "shortcut to the installed qorvel.exe" ||
  fail "shortcut: $(tr '\n' ' ' <<<"$shortcut")"
[ "$(wine reg query "$uninstall_key" /v DisplayVersion 2>/dev/null | grep -c "$version")" -ge 1 ] &&
  pass "Add/Remove Programs entry" || fail "no uninstall entry with version $version"

# --- The guardian starts the guard and brings it back ----------------------------
started() { grep -q "started a guard" "$log" 2>/dev/null && [ -n "$(qorvel_pids)" ]; }
if wait_for started 60; then
  pass "the guardian, started by the installer, started the guard"
else
  # Wine does not always start a service created a moment before; its next
  # start starts automatic services, as a reboot would.
  echo "the guardian did not start at once; restarting Wine as a reboot would"
  wineserver -k && wineserver -w
  desktop
  wait_for started 60 && pass "after the restart the guardian started the guard" || fail "no guard started"
fi
wait_for 'grep -q "two=0" "$c/mdb.ini" 2>/dev/null' && pass "first-run file written" ||
  fail "C:\\mdb.ini did not appear"
moved=("$c"/mdb.ini.*.moved)
[ -d "${moved[0]}/inside" ] && [ -f "$c/mdb.ini" ] && grep -q "moved what stood" "$log" &&
  pass "the folder at C:\\mdb.ini was moved aside to ${moved[0]##*/}" || fail "the folder at C:\\mdb.ini: ${moved[*]}"
# That start waits on the start-up question; the next ones show their window.
sed -i 's/two=0/two=1/' "$c/mdb.ini"
for codes in "1 0 259" "1 1 1 1 1"; do
  out=$(probe end $codes) && pass "ended with exit codes $codes, back each time: $(echo $out)" ||
    fail "ended with exit codes $codes: $(echo $out)"
done
copy="$c/ProgramData/Qorvel/mdb.ini"
wait_for 'cmp -s "$c/mdb.ini" "$copy"' && pass "the guardian keeps a copy of C:\\mdb.ini" || fail "no copy"
cp "$c/mdb.ini" "$WINEPREFIX/mdb.ini.before"
rm "$c/mdb.ini"
wait_for 'cmp -s "$c/mdb.ini" "$WINEPREFIX/mdb.ini.before"' 30 && grep -q "put the deleted" "$log" &&
  pass "a deleted C:\\mdb.ini is put back byte for byte" || fail "C:\\mdb.ini did not come back"
old_pids=$(qorvel_pids)
starts=$(grep -c "started a guard\|watching the running guard" "$log")

# --- Install again over the running program -----------------------------------
wine reg add "$run_key" /v qorvel /d 'C:\Program Files\Qorvel\qorvel' /f >/dev/null 2>&1
before=$(stat -c %z "$installed/qorvel.exe")
timeout 300 wine "$installer" /S && pass "install over the running program exits 0" ||
  fail "install over the running program failed"
[ "$(stat -c %z "$installed/qorvel.exe")" != "$before" ] && cmp -s "$exe" "$installed/qorvel.exe" &&
  pass "qorvel.exe replaced" || fail "qorvel.exe was not replaced"
new_running() {
  local pids
  pids=$(qorvel_pids)
  [ -n "$pids" ] && [ -z "$(comm -12 <(sort <<<"$old_pids") <(sort <<<"$pids"))" ]
}
wait_for new_running && pass "the new qorvel.exe runs, the old one ended" ||
  fail "after the update: running '$(qorvel_pids)', before '$old_pids'"
reg_has "$run_key" qorvel && pass "Run value kept by the update" || fail "Run value lost by the update"
# The guardian was stopped, so the verb's line is in its log.
grep -q 'took "change the time zone" from Users' "$log" &&
  pass "the installer took the time zone's right from Users: $(grep -a 'change the time zone' "$log" | tail -1 | tr -d '\r')" ||
  fail "the installer made no time-zone-right call"
cmp -s "$guardian" "$installed/qorvel-guardian.exe" && grep -q "the guardian stops" "$log" &&
  pass "the running guardian stopped and was replaced" || fail "the guardian was not replaced"
# Nothing elevated from the installer: the guardian started the new guard.
wait_for '[ "$(grep -c "started a guard\|watching the running guard" "$log")" -gt "$starts" ]' 60 &&
  pass "the updated guardian started and watches the new guard" || fail "the updated guardian did not take the guard"
out=$(probe end 1) && pass "the updated guardian brings the guard back: $out" || fail "after the update: $out"

# Asks until the answer is not "busy": a wrong password is answered once a second.
ask() {
  local answer
  for _ in 1 2 3 4 5; do
    answer=$(probe ask "$1")
    [ "$answer" != busy ] && break
    sleep 1
  done
  echo "$answer"
}

# --- The parent's road through the settings window, over the guardian --------------
[ "$(ask 'quit 1234')" = no ] && pass "a wrong password over the pipe is refused" || fail "a wrong password"
# The file as the guard writes it itself for the same road (program_test.cpp's
# road without a service gives these bytes too): code page 936, CRLF.
expected="$WINEPREFIX/mdb.ini.expected"
{
  printf '[HOUR]\r\n'
  for h in 2 3 4 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 5 1; do printf 'hou%s=%s\r\n' "$h" "$h"; done
  printf '[mm]\r\nnober=%s\r\n[bb]\r\ntwo=1\r\n' "$(printf '家长=口令' | iconv -f UTF-8 -t GBK)"
} >"$expected"
out=$(probe road 907 '家长=口令') && [ "$(grep -c ': -$' <<<"$out")" = 5 ] &&
  pass "\"设置\", 907, two hours out, two in, a new password, \"结束Qorvel\": $(echo $out)" ||
  fail "the settings road: $(echo $out)"
cmp -s "$c/mdb.ini" "$expected" && pass "the file's bytes after the road are the guard's own" ||
  fail "after the road: $(od -c "$c/mdb.ini" | head -20)"
for line in "removed \[hour\] hou1" "removed \[HOUR\] hou5" "wrote \[hour\] hou5" "wrote \[mm\] nober"; do
  grep -qi "$line from session" "$log" && pass "the guardian's log: $line" || fail "the log lacks '$line'"
done
! grep -q '家长\|口令' "$log" && pass "no password in the log" || fail "a password in the log"
[ "$(ask 'write HOUR hou0 0 907')" = no ] &&
  cmp -s "$c/mdb.ini" "$expected" && pass "the old password proves nothing any more; nothing changed" ||
  fail "a write with the old password"
# An absence needs a window: 6 s is six times the longest back-off.
! probe guard 6000 >/dev/null && [ -z "$(qorvel_pids)" ] && grep -q "the parent ended" "$log" &&
  pass "the guard ended by the parent stays ended" || fail "the guard came back after the end button"

# --- Neither file nor copy: no password opens anything ---------------------------
# Restarted as a reboot would, with no qorvel.exe to start, so no guard writes
# the first-run file while the guardian is asked.
wineserver -k && wineserver -w
mv "$installed/qorvel.exe" "$WINEPREFIX/qorvel.exe.away"
mv "$c/mdb.ini" "$WINEPREFIX/mdb.ini.kept"
rm -f "$copy"
runs=$(grep -c "the guardian runs" "$log")
desktop
if wait_for '[ "$(grep -c "the guardian runs" "$log")" -gt "$runs" ]' 60; then
  for line in 'check 907' 'quit 907'; do
    [ "$(ask "$line")" = no ] && pass "no file, no copy: '$line' refused" || fail "no file, no copy: '$line'"
  done
  [ ! -e "$c/mdb.ini" ] && pass "no file, no copy: nothing written" || fail "a file was written: $(cat "$c/mdb.ini")"
else
  fail "the guardian did not start again"
fi
mv "$WINEPREFIX/qorvel.exe.away" "$installed/qorvel.exe"
mv "$WINEPREFIX/mdb.ini.kept" "$c/mdb.ini"
wait_for '[ -n "$(qorvel_pids)" ]' || fail "qorvel.exe did not start before the uninstall"

# --- Without the guard's cooperation: frozen, killed in a loop; the time zone ----
# Hours that leave out the present one, written in place as Wine lets the
# prefix's user do (no ACLs): the guardian takes the file up within a second.
liveness_start=$SECONDS
locked_hour=$(( ($(date +%-H) + 12) % 24 ))
printf '[HOUR]\r\nhou%s=%s\r\n[mm]\r\nnober=%s\r\n[bb]\r\ntwo=1\r\n' "$locked_hour" "$locked_hour" \
  "$(printf '家长=口令' | iconv -f UTF-8 -t GBK)" >"$c/mdb.ini"
wait_for 'cmp -s "$c/mdb.ini" "$copy"' 30 || fail "the guardian did not take up the locked hours"
out=$(probe suspend) && ms=$(sed -n 's/.*back_ms=\([0-9]*\).*/\1/p' <<<"$out") && [ "$ms" -le 15000 ] &&
  grep -q "stopped reporting; ending it" "$log" &&
  pass "a suspended guard is ended; a new guard locked in ${ms} ms (goal 5000, asserted 15000): $out" ||
  fail "a suspended guard: $out"
# The zone's name there and back (Wine's clock follows the host's zone, not
# this key; Wine sends no notice for a value set to what it holds).
zone_key='HKLM\SYSTEM\CurrentControlSet\Control\TimeZoneInformation'
zone=$(wine reg query "$zone_key" /v TimeZoneKeyName 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
wine reg add "$zone_key" /v TimeZoneKeyName /d "Tokyo Standard Time" /f >/dev/null 2>&1
wait_for 'grep -q "the time zone was changed; it is now Tokyo Standard Time" "$log"' 30 &&
  pass "the guardian logs a change of the time zone (to Tokyo Standard Time, then back to $zone)" ||
  fail "no line for a change of the time zone"
wine reg add "$zone_key" /v TimeZoneKeyName /d "$zone" /f >/dev/null 2>&1
out=$(probe killloop 90000) && ms=$(sed -n 's/.*uncovered_ms=\([0-9]*\).*/\1/p' <<<"$out") && [ "$ms" -le 60000 ] &&
  pass "a kill loop in a locked hour: the session uncovered in ${ms} ms (goal 40000, asserted 60000): $out" ||
  fail "a kill loop: $out"
# Wine's user is an administrator (its token holds Administrators), so Wine
# shows the note; a standard account's session gets the call.
line=$(grep -a "not covered in a locked hour" "$log" | tail -1 | tr -d '\r')
if grep -q "logging it off" <<<"$line"; then
  grep -q "WTSLogoffSession(" "$log" && pass "logged off: $(grep -a WTSLogoffSession "$log" | tail -1 | tr -d '\r')" ||
    fail "no WTSLogoffSession call after: $line"
else
  grep -q "an administrator's session is not logged off" <<<"$line" && pass "an administrator's session is only noted: $line" ||
    fail "the uncovered session: $line"
fi
wait_for '[ -n "$(qorvel_pids)" ]' || fail "qorvel.exe did not start after the kill loop"
echo "the frozen guard, the time zone and the kill loop took $((SECONDS - liveness_start)) s"

# --- Silent uninstall ------------------------------------------------------------
# Run in place (_?=, the folder unquoted to the end of the line: Wine joins
# the two words with a space), it ends when its work is done.
timeout 300 wine "C:\\Program Files\\Qorvel\\uninstall.exe" /S '_?=C:\Program' 'Files\Qorvel' ||
  fail "silent uninstall failed"
# Running, it cannot delete itself: uninstall.exe waits for the next restart.
[ "$(ls -A "$installed" 2>&1)" = uninstall.exe ] && [ ! -e "$link" ] &&
  pass "program files and shortcut removed, uninstall.exe at the next restart" ||
  fail "left behind: $(ls -A "$installed" "$link" 2>&1 | tr '\n' ' ')"
! reg_has "$run_key" qorvel && pass "Run value removed" || fail "Run value left"
! wine reg query "$uninstall_key" >/dev/null 2>&1 && pass "uninstall entry removed" || fail "uninstall entry left"
! wine reg query "$service_key" >/dev/null 2>&1 && [ ! -e "$c/ProgramData/Qorvel" ] &&
  pass "service and its copy removed" || fail "the guardian is left"
wait_for '[ -z "$(qorvel_pids)" ] && [ -z "$(pids_of qorvel-guardian.exe)" ]' && pass "qorvel.exe and the guardian ended" ||
  fail "qorvel.exe or the guardian still runs"
[ -f "$c/mdb.ini" ] && pass "C:\\mdb.ini kept" || fail "C:\\mdb.ini was removed"
# Wine's next start does what a restart does.
wineserver -k && wineserver -w
! probe guard 6000 >/dev/null && [ -z "$(qorvel_pids)" ] && pass "no guard comes back, also after a restart" ||
  fail "a guard came back after the uninstall"
[ ! -e "$installed" ] && pass "the program folder is gone after the restart" || fail "left after a restart: $(ls -A "$installed")"

if [ "$failures" -gt 0 ]; then
  echo "installer test: $failures failure(s)" >&2
  exit 1
fi
echo "installer test: all passed"
