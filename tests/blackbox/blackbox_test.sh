#!/usr/bin/env bash
# The real qorvel binary as a family meets it, seen only from outside: the
# files it writes, its windows as the X server and openbox have them, and the
# keys and clicks of xdotool. run.sh gives it the displays and private
# /var/lib/qorvel and /etc/xdg/autostart. Settings files with every hour or
# none make the layout independent of the clock.
# As real root it also runs the guardian beside a second stand-in logind, with
# the session and its guard an unprivileged account's.
# QORVEL_BLACKBOX_ONLY="part ..." runs only those parts (scripts/mutants);
# "guardian" runs guardian-restarts, -ends, -file, -folder, -frozen and -logoff, each also alone;
# restart-figure and channel-figure, the guardian's restart and its channel's
# cost measured for scripts/figures, run only when named.
#   blackbox_test.sh QORVEL_EXE FAKE_LOGIND QORVEL_GUARDIAN
set -uo pipefail
exe="$(readlink -f "$1")" fake_logind="$2" guardian="$3"
settings=/var/lib/qorvel/mdb.ini autostart=/etc/xdg/autostart/qorvel.desktop
test="" pids=()
# The first failure ends the test: the rest would mostly wait on its consequences.
fail() { echo "FAIL: $test: $*" >&2; exit 1; }
# Polls a shell condition for up to $2 seconds (30); a busy machine only makes it wait.
wait_for() {
  local end=$((SECONDS + ${2:-30}))
  until eval "$1"; do [ "$SECONDS" -ge "$end" ] && return 1; sleep 0.05; done
}
# The settings file with these hours, password (907) and start-up flag (1).
settings_text() {
  local text='[HOUR]\r\n' h
  for h in $1; do text+="hou$h=$h\\r\\n"; done
  printf "$text[mm]\\r\\nnober=${2:-907}\\r\\n[bb]\\r\\ntwo=${3:-1}\\r\\n"
}
every_hour="$(seq 0 23)" first_run="$(seq 1 23)"
file_is() { cmp -s <(settings_text "$@") "$settings"; }
clean() { rm -rf /var/lib/qorvel/* /etc/xdg/autostart/* /var/lib/qorvel-guardian/*; }

# A running qorvel on $DISPLAY; its pid in $guard.
start() { "$exe" >/dev/null 2>&1 & guard=$!; pids+=("$guard"); }
stop() { kill "$@" 2>/dev/null; wait "$@" 2>/dev/null; }
ended() { case "$(ps -o stat= -p "$1")" in "" | Z*) true ;; *) false ;; esac; }
# Guards the guardian started are no child of this script; one left stopped
# (kill -STOP) would hold ctest's output open for good.
trap 'stop "${pids[@]}"; pkill -KILL -xf "$exe" 2>/dev/null' EXIT
# The viewable window of a process with exactly this title, if any.
window() {
  local w
  for w in $(xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null); do
    [ "$(xprop -id "$w" _NET_WM_NAME 2>/dev/null)" = "_NET_WM_NAME(UTF8_STRING) = \"$2\"" ] && echo "$w" && return
  done
}
wait_window() { local w=""; wait_for "w=\$(window $1 '$2'); [ -n \"\$w\" ]" && echo "$w"; }
geometry() { xdotool getwindowgeometry "$1" 2>/dev/null | awk '/Position/ {p=$2} /Geometry/ {print $2 "+" p}'; }
state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null; }
screen="$(xdpyinfo 2>/dev/null | awk '/dimensions:/ {print $2}')+0,0"
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
locked() { viewable "$1" && [ "$(geometry "$1")" = "$screen" ] && state "$1" | grep ABOVE | grep -q MAXIMIZED_VERT; }
compact() { viewable "$1" && [ "$(geometry "$1")" = "41x17+0,0" ] && ! state "$1" | grep -q -e ABOVE -e MAXIMIZED; }
# The held lock bypasses the window manager, which then cannot activate it: it is focused directly.
key() {
  local w=$1 how=windowactivate
  shift
  xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && how=windowfocus
  timeout 20 xdotool $how --sync "$w" key "$@" 2>/dev/null
}
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# The root's child holding window $1: the window manager's frame, or the window itself.
top_level() {
  local w=$1 parent
  while parent=$(xwininfo -children -id "$w" 2>/dev/null | awk '/Parent window id:/ {print $4; exit}') &&
    [ -n "$parent" ] && [ "$(($parent))" != "$(($root))" ]; do w=$parent; done
  echo "$w"
}
root=$(xwininfo -root 2>/dev/null | awk '/Window id:/ {print $4; exit}')
# Whether window $1 lies above window $2 (xwininfo lists the root's children from the top down).
above() {
  local a b w n=0 ia=0 ib=0
  a=$(($(top_level "$1"))) b=$(($(top_level "$2")))
  for w in $(xwininfo -root -children | awk '$1 ~ /^0x/ {print $1}'); do
    n=$((n + 1))
    [ $((w)) = "$a" ] && ia=$n
    [ $((w)) = "$b" ] && ib=$n
  done
  [ "$ia" -gt 0 ] && [ "$ib" -gt 0 ] && [ "$ia" -lt "$ib" ]
}
# 设置, then the password prompt answered with $1, in $guard and its $main window.
prompt() {
  click "$main" 20 8  # 设置
  local box
  box="$(wait_window "$guard" app)" || fail "no password prompt"
  wait_for "above $box $main" 5 || fail "the prompt is under the lock"
  key "$box" $(sed 's/./& /g' <<<"$1") Return
  wait_for "[ -z \"\$(window $guard app)\" ]" || fail "the prompt stayed"
}
# Whether the part $1 runs; names it for the failures.
runs() {
  test=$1
  if [ -n "${QORVEL_BLACKBOX_ONLY:-}" ]; then [[ " $QORVEL_BLACKBOX_ONLY " == *" $1 "* ]]; else [ "$1" != restart-figure ] && [ "$1" != channel-figure ]; fi
}
# A stand-in logind on a private bus of its own, recording calls to $1.
# Its sessions are root's, led by the stand-in, so it lends a guard started
# there its environment: this display.
start_logind() {
  local bus_pid
  { read -r bus && read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  "$fake_logind" "$bus" "$1" yes &
  pids+=($! "$bus_pid")
  wait_for "logind CanPowerOff" || fail "no stand-in logind"
}
logind() {
  dbus-send --bus="$bus" --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 \
    "org.freedesktop.login1.Manager.$1" "${@:2}" >/dev/null 2>&1
}

# The guardian, started as a service would be, with session c1 of $kid
# active; it notes what it does in $glog.
runs=0
start_guardian() {
  logind SetSessionOf string:c1 string:x11 string:active "string:$kid" || fail "the stand-in refused the session"
  glog="$QORVEL_BLACKBOX_TMP/guardian-$((++runs)).log"
  # Default signal actions, as a service has them: a shell's background job ignores SIGINT.
  # No TZ either: its hour is the machine's zone's.
  DBUS_SYSTEM_BUS_ADDRESS="$bus" env -u TZ --default-signal "$guardian" 2>"$glog" &
  gpid=$!
  pids+=("$gpid")
}
stop_guardian() { stop "$gpid"; kill -9 $(guards) 2>/dev/null; logind RemoveSession string:c1; }
logged() { local line="$1"; wait_for 'grep -qF -- "$line" "$glog"' 60 || fail "never noted \"$line\": $(cat "$glog")"; }
# The guards of session $1 (c1): the real program with that session and this
# display in its environment.
guards() {
  local p
  for p in $(pgrep -x qorvel); do
    [ "$(readlink "/proc/$p/exe")" = "$exe" ] && tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null |
      grep -cx -e "XDG_SESSION_ID=${1:-c1}" -e "DISPLAY=$DISPLAY" | grep -qx 2 && echo "$p"
  done
}
# The session's one guard other than $1, once its window shows; in $guard.
one_new_guard() {
  local g="$(guards)"
  [ -n "$g" ] && [ "$(wc -l <<<"$g")" = 1 ] && [ "$g" != "$1" ] && [ -n "$(window "$g" Qorvel)" ] && guard=$g
}
new_guard() { local old=$1; wait_for 'one_new_guard "$old"' 60 || fail "no new guard after $old: $(cat "$glog")"; }

# The first start: the file, the prompt and its answers. A second instance
# beside the first asks nothing and writes nothing, with the flag still 0
# after a Cancel. Until accepted, the prompt comes back at the next start.
if runs first-start; then
  for answer in Escape Return; do
    clean
    flag=$([ "$answer" = Return ] && echo 1 || echo 0)
    start
    first=$guard
    box="$(wait_window "$first" qorvel)" || fail "no start-up prompt"
    file_is "$first_run" 907 0 || fail "the first-run file, before the answer: $(cat -A "$settings")"
    key "$box" "$answer"
    if [ "$answer" = Return ]; then  # then "设置成功,重启后生效"
      wait_for "reply=\$(window $first qorvel); [ -n \"\$reply\" ] && [ \"\$reply\" != $box ]" &&
        key "$reply" Return || fail "no second box after OK"
    fi
    wait_window "$first" Qorvel >/dev/null || fail "the main window did not come up"
    file_is "$first_run" 907 "$flag" || fail "after $answer: $(cat -A "$settings")"
    registered=$(grep -qsx "Exec=$exe" "$autostart" && echo 1 || echo 0)
    [ "$registered" = "$flag" ] || fail "after $answer the autostart entry is $(cat "$autostart" 2>&1)"
    start  # its main window comes up only after its start-up
    wait_window "$guard" Qorvel >/dev/null || fail "the second instance did not come up"
    [ -z "$(window "$guard" qorvel)" ] || fail "the second instance asked"
    file_is "$first_run" 907 "$flag" || fail "the second instance wrote"
    stop "$first" "$guard"
    start
    wait_for "[ -n \"\$(window $guard $([ "$flag" = 1 ] && echo Qorvel || echo qorvel))\" ]" || fail "the next start"
    [ -z "$(window "$guard" qorvel)" ] || [ "$flag" = 0 ] || fail "asked again after OK"
    stop "$guard"
  done
fi

# At a locked hour the start-up prompt comes once the lock is up, stands
# above it, and leaves it up while nobody answers.
if runs prompt-over-lock; then
  clean
  settings_text "" 907 0 >"$settings"
  start
  box="$(wait_window "$guard" qorvel)" || fail "no start-up prompt"
  main="$(window "$guard" Qorvel)"
  [ -n "$main" ] && wait_for "locked $main" || fail "no lock beneath the prompt"
  [ "$(window "$guard" qorvel)" = "$box" ] || fail "the prompt went away"
  wait_for "above $box $main" 10 || fail "the prompt is under the lock"
  stop "$guard"
fi

# The two layouts; each tick puts back what the user minimised or moved, and
# Alt+F4 (the window manager's close request) is refused. A settings file
# that is a folder cannot be read: locked, and the program stays up.
if runs layout; then
  for layout in compact locked folder; do
    clean
    case $layout in
      compact) settings_text "$every_hour" >"$settings" ;;
      locked) settings_text "" >"$settings" ;;
      folder) mkdir "$settings" ;;
    esac
    start
    [ $layout = folder ] && { box="$(wait_window "$guard" qorvel)" && key "$box" Escape || fail "no prompt"; }
    is=$([ $layout = compact ] && echo compact || echo locked)
    main="$(wait_window "$guard" Qorvel)" || fail "$layout: no main window"
    wait_for "$is $main" || fail "$layout: not $is but $(geometry "$main") $(state "$main")"
    key "$main" alt+F4
    xdotool windowminimize --sync "$main"
    wait_for "$is $main" || fail "$layout: still minimised: $(geometry "$main") $(state "$main") $(xwininfo -id "$main" | grep -e Map -e Override)"
    if [ $layout = locked ]; then
      # "Above" taken away behind the window manager's back: asked for again.
      xprop -id "$main" -f _NET_WM_STATE 32a -set _NET_WM_STATE _NET_WM_STATE_MAXIMIZED_VERT,_NET_WM_STATE_MAXIMIZED_HORZ
      wait_for "$is $main" || fail "not above again: $(state "$main")"
    fi
    if [ $layout = compact ]; then
      xdotool windowmove --sync "$main" 300 200
      wait_for "$is $main" || fail "left where it was moved: $(geometry "$main")"
    fi
    ended "$guard" && fail "$layout: the program ended"
    stop "$guard"
  done
fi

# The notice five minutes before a locked hour: libfaketime starts the
# program's clock just before 10:55, with only hour 10 allowed. The notice
# comes up beside the compact window, on top, asks for no input and leaves.
if runs notice; then
  clean
  settings_text 10 >"$settings"
  faketime=$(compgen -G '/usr/lib/*/faketime/libfaketime.so.1' | head -n 1)
  LD_PRELOAD="$faketime" FAKETIME="@2026-12-07 10:54:59" start
  main="$(wait_window "$guard" Qorvel)" && wait_for "compact $main" || fail "not compact at 10:54"
  notice="$(wait_window "$guard" 还有5分钟锁屏)" || fail "no notice at 10:55"
  left=$(geometry "$notice" | sed 's/.*+\([0-9]*\),.*/\1/')
  [ "$left" -ge 41 ] || fail "over the compact window: $(geometry "$notice")"
  state "$notice" | grep -q ABOVE || fail "not above: $(state "$notice")"
  xprop -id "$notice" WM_HINTS | grep -q 'input focus: False' || fail "asks for the focus: $(xprop -id "$notice" WM_HINTS)"
  [ "$(xdotool getwindowfocus 2>/dev/null)" != "$notice" ] || fail "took the focus"
  wait_for "[ -z \"\$(window $guard 还有5分钟锁屏)\" ]" 30 || fail "the notice stayed"
  stop "$guard"
fi

# 锁屏 and 关机 reach logind on the system bus: a stand-in on a private bus
# records what it is asked, and powers nothing off.
if runs logind; then
  clean
  settings_text "" >"$settings"
  calls="$QORVEL_BLACKBOX_TMP/logind-calls"
  start_logind "$calls"
  : >"$calls"
  DBUS_SYSTEM_BUS_ADDRESS="$bus" XDG_SESSION_ID=c7 start
  main="$(wait_window "$guard" Qorvel)" && wait_for "locked $main" || fail "not locked"
  click "$main" 100 8  # 锁屏
  click "$main" 60 8  # 关机
  asked() { [ "$(cat "$calls")" = $'CanPowerOff\nLockSession "c7"\nPowerOff false' ]; }
  wait_for asked || fail "logind was asked: $(cat "$calls")"
  stop "$guard"
fi

# The settings road, by mouse and keyboard: a wrong password opens nothing;
# the right one opens the settings window, where two hours are added, the
# first deleted again and a new password saved. Meanwhile the hour check is
# off and the lock not above the rest; closing the window brings both back.
# The new password opens it again, and its end button ends the program.
if runs settings-road; then
  clean
  settings_text "" >"$settings"
  start
  main="$(wait_window "$guard" Qorvel)" && wait_for "locked $main" || fail "not locked at first"
  prompt 123
  [ -z "$(window "$guard" 设置)" ] || fail "a wrong password opened the settings"
  prompt 907
  form="$(wait_window "$guard" 设置)" || fail "the right password did not open the settings window"
  wait_for "above $form $main" 5 || fail "the settings window is under the lock"
  [ "$(window "$guard" Qorvel)" = "$main" ] && [ "$(geometry "$main")" = "$screen" ] ||
    fail "the lock left the screen open: $(geometry "$main")"
  # Two hours in 1..9 at least two away from now: adding them keeps the screen locked.
  now=$((10#$(date +%H))) far=()
  for h in $(seq 1 9); do [ $((h > now ? h - now : now - h)) -ge 2 ] && far+=("$h"); done
  for h in "${far[@]:0:2}"; do
    # The hour picker has the focus at first, and again one Tab back from 添加.
    keys=(Home) && for ((i = 1; i < h; i++)); do keys+=(Down); done
    [ "$h" = "${far[1]}" ] && keys=(shift+Tab "${keys[@]}")
    key "$form" "${keys[@]}"
    click "$form" 252 50  # 添加
    wait_for "grep -q 'hou$h=$h' '$settings'" 10 || fail "hour $h was not added: $(cat -A "$settings")"
  done
  click "$form" 64 128  # the first hour listed
  click "$form" 248 144  # 删除时段
  click "$form" 136 305  # the password
  key "$form" ctrl+a 4 3 2 1
  click "$form" 252 306  # 修改
  wait_for "file_is ${far[1]} 4321" 10 || fail "the file is $(cat -A "$settings")"
  state "$main" | grep -q ABOVE && fail "the lock stayed above the settings window"
  key "$form" alt+F4
  wait_for "[ -z \"\$(window $guard 设置)\" ]" || fail "the settings window did not close"
  wait_for "locked $main" || fail "the hour check did not resume"
  prompt 4321
  form="$(wait_window "$guard" 设置)" || fail "the new password did not open the settings window"
  click "$form" 100 8  # 结束Qorvel
  wait_for "ended $guard" || fail "the end button did not end the program"
  wait "$guard"
  rc=$?
  [ $rc -eq 0 ] || fail "the end button ended the program with $rc"
  file_is "${far[1]}" 4321 || fail "the end button wrote"
fi

# While locked, other X clients can neither hide the lock nor take the focus
# from it: one unmap, an unmap every 20 ms, a close request every 20 ms, the
# window manager's keys with a second client's window open, and that window
# activated outright. The lock is back within 0.3 s (the assertion allows
# 1 s), viewable in 95 % of the samples of the unmap loop (the assertion
# allows 90 %: 94.6-99.9 % measured at a load of 4 to 15 on two cores), and
# full-screen after it.
if runs hold; then
  clean
  settings_text "" >"$settings"
  start
  main="$(wait_window "$guard" Qorvel)" && wait_for "locked $main" || fail "not locked"
  # Held: out of the window manager's hands, which lets it go with an unmap of its own first.
  held() { xwininfo -id "$1" 2>/dev/null | grep -q 'Override Redirect State: yes' && [ "$(top_level "$1")" = "$1" ]; }
  wait_for "locked $main && held $main" 10 || fail "not held: $(xwininfo -id "$main" | grep Override)"
  # map_probe watches from a client of its own, as fast as the server answers.
  probe="$(dirname "$fake_logind")/map_probe"
  coproc watch { "$probe" back "$main"; }
  read -r ready <&"${watch[0]}" && [ "$ready" = ready ] || fail "map_probe did not start"
  xdotool windowunmap "$main"
  read -r -t 15 ms <&"${watch[0]}"
  echo "hold: one unmap, viewable again after $ms ms (goal 300)"
  [[ "$ms" =~ ^[0-9]+$ ]] && [ "$ms" -le 1000 ] || fail "viewable again after $ms ms"
  wait_for "locked $main" || fail "not locked after the unmap: $(geometry "$main") $(state "$main")"
  read -r _ seen _ samples < <("$probe" loop "$main" 20 3)
  echo "hold: an unmap every 20 ms for 3 s, viewable in $seen of $samples samples (goal 95 %)"
  [ $((seen * 100)) -ge $((samples * 90)) ] || fail "viewable in only $seen of $samples samples"
  wait_for "locked $main" 5 || fail "after the unmaps, not full-screen: $(geometry "$main") $(state "$main")"
  # Close requests (WM_DELETE_WINDOW) sent straight to the lock, past the window manager.
  read -r _ seen _ samples < <("$probe" closes "$main" 20 2)
  echo "hold: a close request every 20 ms for 2 s, viewable in $seen of $samples samples"
  [ $((seen * 100)) -ge $((samples * 90)) ] || fail "closed: viewable in only $seen of $samples samples"
  ended "$guard" && fail "a close request ended the program"
  # Resized and moved by another client: it sizes itself back to the screen.
  xdotool windowsize "$main" 500 400 windowmove "$main" 100 100
  wait_for "locked $main" 5 || fail "left resized: $(geometry "$main")"
  # A second client's window (xmessage), which Alt+Tab would switch to.
  xmessage -name qorvel-other -geometry +40+40 other >/dev/null 2>&1 &
  other_pid=$!
  pids+=("$other_pid")
  wait_for '[ -n "$(xdotool search --classname "^qorvel-other$" 2>/dev/null)" ]' || fail "no second window"
  other=$(xdotool search --classname '^qorvel-other$' | head -1)
  focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$main" ]; }
  wait_for focused || fail "the lock does not have the focus: $(xdotool getwindowfocus)"
  # The window manager names each window it activates on the root window.
  xprop -root -spy _NET_ACTIVE_WINDOW >"$QORVEL_BLACKBOX_TMP/active" 2>&1 &
  spy=$!
  for keys in super alt+Tab super+Tab; do
    xdotool key $keys
    # No event tells that the window manager has acted: the focus is watched for a second.
    for _ in $(seq 20); do focused || fail "$keys took the focus to $(xdotool getwindowfocus)"; sleep 0.05; done
  done
  stop "$spy"
  ! grep -qi "$(printf '0x%x' "$other")\b" "$QORVEL_BLACKBOX_TMP/active" || fail "the other window was activated"
  xdotool windowactivate "$other" 2>/dev/null
  wait_for focused 5 || fail "activating another window kept the focus there: $(xdotool getwindowfocus)"
  # The hours open: the window manager has the compact window back, on every workspace.
  settings_text "$every_hour" >"$settings"
  wait_for "compact $main" 10 || fail "not compact once allowed: $(geometry "$main") $(state "$main")"
  xprop -id "$main" _NET_WM_DESKTOP | grep -q 4294967295 || fail "not on every workspace: $(xprop -id "$main" _NET_WM_DESKTOP)"
  stop "$other_pid" "$guard"
fi

# The guardian, as root, beside a stand-in logind of its own, its unit in
# place so the guard goes through it; the session and its guard are the
# child's account's. It adopts the guard that the start-up entry started in
# the session, and brings it back however it ends: signals, or its X
# connection cut (exit code 1).
if [ -z "${QORVEL_BLACKBOX_USERNS:-}" ] && { runs guardian || runs guardian-restarts || runs guardian-ends ||
  runs guardian-file || runs guardian-folder || runs guardian-frozen || runs guardian-logoff ||
  runs restart-figure || runs channel-figure; }; then
  # Each part alone, or all of them as "guardian".
  part() {
    local only=" ${QORVEL_BLACKBOX_ONLY:-guardian} "
    [[ "$only" == *" guardian "* || "$only" == *" $1 "* ]] && test=$1
  }
  kid=qorvel-kid
  id -u "$kid" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$kid" ||
    fail "cannot add the account $kid"
  xhost "+SI:localuser:$kid" >/dev/null 2>&1
  kid_env=(setpriv --reuid="$kid" --regid="$kid" --clear-groups env HOME=/)
  as_kid() { "${kid_env[@]}" "$@"; }
  # One request line to the guardian's socket from the child's account, as
  # any program of its could send it; prints the answer line.
  asking='import socket, sys
s = socket.socket(socket.AF_UNIX)
s.settimeout(10)
s.connect("/run/qorvel-guardian/socket")
s.sendall(sys.argv[1].encode() + b"\n")
print(s.makefile("rb").readline().decode().strip())'
  ask() { as_kid python3 -c "$asking" "$1"; }
  # How many red pixels the window $1 shows: "保存失败" adds to those of the end button.
  red() {
    local size
    size=$(geometry "$1")
    size=${size%%+*}
    python3 - "$1" "${size%x*}" "${size#*x}" <<'PY'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XGetImage.restype = ctypes.c_void_p
x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                        ctypes.c_ulong, ctypes.c_int]
x.XGetPixel.restype = ctypes.c_ulong
x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
w, h = int(sys.argv[2]), int(sys.argv[3])
image = x.XGetImage(x.XOpenDisplay(None), int(sys.argv[1]), 0, 0, w, h, 0xFFFFFFFF, 2)
pixels = (x.XGetPixel(image, i, j) for i in range(w) for j in range(h))
print(sum(1 for p in pixels if (p >> 16) & 255 > 200 and (p >> 8) & 255 < 80 and p & 255 < 80) if image else -1)
PY
  }
  unit=/usr/lib/systemd/system/qorvel-guardian.service
  : >"$unit"
  start_logind "$QORVEL_BLACKBOX_TMP/guardian-logind-calls"

  # A guard's end to its successor's window, each end a first one (the guard
  # ran long enough for no back-off).
  if runs restart-figure; then
    clean
    settings_text "" >"$settings"
    chown "$kid" "$settings"  # as an earlier version's guard left it
    start_guardian
    new_guard 0
    ms=()
    for _ in $(seq 10); do
      sleep 10.5
      from=$(date +%s%N) && kill -9 "$guard" && new_guard "$guard"
      ms+=($((($(date +%s%N) - from) / 1000000)))
    done
    sorted=($(printf '%s\n' "${ms[@]}" | sort -n))
    echo "figures: a guard's end to the new guard's window, median of 10: $(((sorted[4] + sorted[5]) / 2)) ms" \
      "(goal at most 1000 ms; ${sorted[0]} to ${sorted[9]})"
    stop_guardian
  fi

  # The channel's cost in a locked hour, measured for scripts/figures: the
  # median round trip of one read of the hours from the child's account, then
  # the CPU the guard and the guardian use over QORVEL_FIGURE_SECONDS (60).
  if runs channel-figure; then
    clean
    settings_text "" >"$settings"
    start_guardian
    new_guard 0
    logged "guard $guard of session c1 reports"
    wait_for 'locked "$(window "$guard" Qorvel)"' 60 || fail "the guard did not lock"
    # One kept connection, as the guard keeps it.
    rtt=$(as_kid python3 - 100 <<'PY'
import socket, statistics, sys, time
ms = []
s = socket.socket(socket.AF_UNIX)
s.settimeout(10)
s.connect("/run/qorvel-guardian/socket")
answers = s.makefile("rb")
for _ in range(int(sys.argv[1])):
    start = time.perf_counter()
    s.sendall(b"read HOUR \n")
    answer = answers.readline()
    ms.append((time.perf_counter() - start) * 1000)
    if not answer.startswith(b"ok"):
        sys.exit("answered %r" % answer)
print("%.2f ms (%.2f to %.2f)" % (statistics.median(ms), min(ms), max(ms)))
PY
    ) || fail "the reads failed: $rtt"
    echo "figures: one request to the guardian and its answer, median of 100: $rtt"
    # CPU time in nanoseconds, summed over a process's threads: /proc's ticks
    # of 1/100 s are too coarse for a few milliseconds a minute.
    cpu() { cat /proc/"$1"/task/*/schedstat | awk '{ ns += $1 } END { print ns }'; }
    seconds=${QORVEL_FIGURE_SECONDS:-60}
    g0=$(cpu "$guard") d0=$(cpu "$gpid") from=$(date +%s%N)
    sleep "$seconds"
    g1=$(cpu "$guard") d1=$(cpu "$gpid") span=$(($(date +%s%N) - from))
    [ "$(guards)" = "$guard" ] || fail "the guard changed while measured: $(cat "$glog")"
    for who in "guard $((g1 - g0)) 0.1" "guardian $((d1 - d0)) 0.02"; do
      read -r name ns goal <<<"$who"
      awk -v n="$name" -v t="$ns" -v s="$span" -v g="$goal" 'BEGIN { printf \
        "figures: CPU of the %s while locked over %.0f s: %.4f %% of one core (%.1f ms; goal at most %s %%)\n",
        n, s / 1e9, 100 * t / s, t / 1e6, g }'
    done
    stop_guardian
  fi

  if part guardian-restarts; then
    clean
    settings_text "" >"$settings"
    chown "$kid" "$settings"  # as an earlier version's guard left it
    start_guardian
    # Within the logon's grace, as the start-up entry would.
    XDG_SESSION_ID=c1 "${kid_env[@]}" "$exe" >/dev/null 2>&1 &
    guard=$!
    pids+=("$guard")
    wait_window "$guard" Qorvel >/dev/null || fail "the guard did not come up"
    logged "watching guard $guard"
    [ "$(guards)" = "$guard" ] || fail "a second guard: $(guards | tr '\n' ' ')"
    for end in KILL TERM HUP INT USR1 windowkill; do
      if [ $end = windowkill ]; then xdotool windowkill "$(window "$guard" Qorvel)"; else kill -s $end "$guard"; fi
      test="guardian-restarts ($end)"
      new_guard "$guard"
    done
    [ "$(stat -c %U "/proc/$guard")" = "$kid" ] || fail "the guard runs as $(stat -c %U "/proc/$guard")"

    # The guard keeps one connection. The child's account's other programs:
    # a silent connection is dropped; at most four places with the guard's,
    # kept busy and any freed one taken back; a new guard still reports, as
    # one of them makes way.
    test=guardian-places
    hold="$QORVEL_BLACKBOX_TMP/places"
    "${kid_env[@]}" python3 - <<'PY' >"$hold" &
import socket, sys, time
def connect():
    s = socket.socket(socket.AF_UNIX)
    s.settimeout(5)
    s.connect("/run/qorvel-guardian/socket")
    return s
def ask(s):
    try:
        s.sendall(b"read HOUR \n")
        line = b""
        while not line.endswith(b"\n"):
            part = s.recv(4096)
            if not part:
                return False
            line += part
        return line.startswith(b"ok")
    except OSError:
        return False
silent = connect()
silent.settimeout(30)
try:
    state = "closed" if silent.recv(1) == b"" else "answered"
except OSError:
    state = "kept"
held = [s for s in (connect() for _ in range(16)) if ask(s)]
print(state, len(held), flush=True)
while True:
    held = [s for s in held if ask(s)]
    try:
        s = connect()
        if ask(s):
            held.append(s)
    except OSError:
        pass
    time.sleep(0.05)
PY
    holder=$!
    pids+=("$holder")
    wait_for '[ -s "$hold" ]' 60 || fail "the child's programs never got their places"
    read -r silent places <"$hold"
    [ "$silent" = closed ] || fail "a silent connection was $silent"
    [ "$places" -ge 1 ] && [ "$places" -le 4 ] || fail "the child's programs got $places places"
    kill -9 "$guard" && new_guard "$guard"
    logged "guard $guard of session c1 reports"
    stop "$holder"
    wait_for '[ -n "$(ask "read HOUR ")" ]' || fail "the places were not freed"

    # The file and its folder are root's: the child's account can neither
    # read the password nor write, delete, replace or link the file; a
    # request with a wrong password changes nothing.
    test=guardian-rights
    [ "$(stat -c %a.%U.%G "$settings" /var/lib/qorvel | tr '\n' ' ')" = "600.root.root 755.root.root " ] ||
      fail "rights: $(stat -c '%n %a.%U.%G' "$settings" /var/lib/qorvel)"
    for try in "cat $settings" "sh -c 'echo x >>$settings'" "rm -f $settings" \
      "sh -c 'echo x >$settings.new && mv -f $settings.new $settings'" "ln $settings $settings.hard" \
      "ln -s /tmp $settings.link"; do
      eval "as_kid $try" >/dev/null 2>&1 && fail "the child's account could: $try"
    done
    file_is "" || fail "changed by the child's account: $(cat -A "$settings")"
    [ "$(ask "write HOUR hou5 5 123")" = no ] && [[ "$(ask "read mm 123")" =~ ^(no|busy)$ ]] ||
      fail "a wrong password was taken"
    # Nor does the session's name in another account's process make it the session's.
    nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/)
    [ "$(XDG_SESSION_ID=c1 "${nobody[@]}" python3 -c "$asking" "quit 907")" = no ] ||
      fail "another account's process ended the guard"
    file_is "" && logged "a wrong password to change [HOUR] from session " || fail "changed by a wrong password"

    # The parent's road through the settings window, in the child's session:
    # two hours added, the first deleted again, a new password. The file's
    # bytes are the ones the guard writes itself (the settings road's), the
    # log names each change and never the password. A save with a password
    # the file no longer holds is refused and says "保存失败". The new
    # password then ends the guard for good.
    test=guardian-road
    main="$(window "$guard" Qorvel)"
    prompt 907
    form="$(wait_window "$guard" 设置)" || fail "the right password did not open the settings window"
    now=$((10#$(date +%H))) far=()
    for h in $(seq 1 9); do [ $((h > now ? h - now : now - h)) -ge 2 ] && far+=("$h"); done
    for h in "${far[@]:0:2}"; do
      keys=(Home) && for ((i = 1; i < h; i++)); do keys+=(Down); done
      [ "$h" = "${far[1]}" ] && keys=(shift+Tab "${keys[@]}")
      key "$form" "${keys[@]}"
      click "$form" 252 50  # 添加
      logged "wrote [hour] hou$h from session c1"
    done
    click "$form" 64 128  # the first hour listed
    click "$form" 248 144  # 删除时段
    logged "removed [HOUR] hou${far[0]} from session c1"
    click "$form" 136 305  # the password
    key "$form" ctrl+a q v 7 x
    click "$form" 252 306  # 修改
    logged "wrote [mm] nober from session c1"
    file_is "${far[1]}" qv7x || fail "the file is $(cat -A "$settings")"
    grep -q -e qv7x -e nober= "$glog" && fail "the log shows the password: $(cat "$glog")"
    plain=$(red "$form")
    settings_text "${far[1]}" 555 >"$settings"
    click "$form" 252 50  # 添加 again: nothing new, the focus there
    key "$form" shift+Tab Home
    click "$form" 252 50  # 添加 hour 1
    wait_for '[ "$(red "$form")" -gt $((plain + 20)) ]' 10 || fail "no 保存失败: $(red "$form") red pixels, $plain before"
    file_is "${far[1]}" 555 || fail "a stale password changed the file: $(cat -A "$settings")"
    settings_text "${far[1]}" qv7x >"$settings"
    key "$form" alt+F4
    wait_for "[ -z \"\$(window $guard 设置)\" ]" || fail "the settings window did not close"
    prompt qv7x
    form="$(wait_window "$guard" 设置)" || fail "the new password did not open the settings window"
    started=$(grep -c 'started a guard' "$glog")
    click "$form" 100 8  # 结束Qorvel
    logged "guard $guard of session c1 "
    [ "$(grep -c 'started a guard' "$glog")" = "$started" ] && [ -z "$(guards)" ] || fail "started again: $(cat "$glog")"
    stop_guardian

  fi

  # The ways a guard ends for good, and the one among them that is refused:
  # a call to the stand-in then SIGKILL, or 设置, 907 and 结束Qorvel with the
  # file's password changed meanwhile or not.
  if part guardian-ends; then
    rows=("the parent's password|||no|no"
      "a password the file no longer holds|||yes|yes"
      "logging off|SetSessionOf string:c1 string:x11 string:closing string:$kid|session c1 of $kid: x11 user closing|no|no"
      "the session gone|RemoveSession string:c1|session c1 gone|no|no"
      "the machine shutting down|ShutDown|the machine is shutting down|no|no")
    for row in "${rows[@]}"; do
      IFS='|' read -r name call said changed back <<<"$row"
      test="guardian-ends ($name)"
      settings_text "" >"$settings"
      start_guardian
      new_guard 0
      if [ -z "$call" ]; then
        main="$(window "$guard" Qorvel)"
        prompt 907
        form="$(wait_window "$guard" 设置)" || fail "no settings window"
        [ $changed = yes ] && settings_text "" 555 >"$settings"
        click "$form" 100 8  # 结束Qorvel
      else
        logind $call || fail "the stand-in refused $call"
        logged "$said"
        kill -9 "$guard"
      fi
      logged "guard $guard of session c1 "  # noted once the end is acted on, a new start included
      if [ $back = yes ]; then
        new_guard "$guard"
      else
        [ "$(grep -c 'started a guard' "$glog")" = 1 ] && [ -z "$(guards)" ] || fail "started again: $(cat "$glog")"
      fi
      stop_guardian
    done

  fi

  # A deleted settings file comes back byte for byte and root's, again and
  # again. A link or a FIFO put in its place is moved aside, never followed
  # nor opened, and the file comes back. A Wayland session is noted, no more.
  if part guardian-file; then
    clean
    printf '[HOUR]\r\nhou3=3\r\n[mm]\r\nnober=\xbc\xd2\xb3\xa4\r\n[bb]\r\ntwo=1' >"$settings"  # 家长, no last line end
    expected="$QORVEL_BLACKBOX_TMP/expected.ini"
    cp "$settings" "$expected"
    start_guardian
    wait_for "cmp -s '$expected' /var/lib/qorvel-guardian/mdb.ini" || fail "no copy: $(cat "$glog")"
    restored() { [ -f "$settings" ] && [ ! -L "$settings" ] && cmp -s "$expected" "$settings"; }
    for round in 1 2 3; do
      rm "$settings"
      wait_for restored || fail "round $round: $(cat -A "$settings" 2>&1)"
    done
    [ "$(stat -c %a.%U "$settings")" = 600.root ] || fail "restored as $(stat -c %a.%U "$settings")"
    echo "root's" >"$QORVEL_BLACKBOX_TMP/secret"
    for kind in link fifo; do
      test="guardian-file ($kind)"
      if [ $kind = link ]; then ln -s "$QORVEL_BLACKBOX_TMP/secret" "$settings.new"; else mkfifo "$settings.new"; fi
      mv -T "$settings.new" "$settings"
      moved=$((${moved:-0} + 1))
      wait_for '[ "$(grep -c "moved $settings aside" "$glog")" = $moved ]' || fail "not moved aside: $(cat "$glog")"
      wait_for restored || fail "not back: $(ls -l "$settings" 2>&1)"
      aside=$(ls -d "$settings".*.moved)
      { [ $kind = link ] && [ -L "$aside" ] || [ -p "$aside" ]; } || fail "moved aside: $(ls -l "$aside")"
      rm "$aside"
    done
    [ "$(cat "$QORVEL_BLACKBOX_TMP/secret")" = "root's" ] || fail "written through the link"
    logind SetSession string:w1 string:wayland string:active
    logged "session w1 of root cannot be covered (Wayland)"
    logind RemoveSession string:w1
    stop_guardian

  fi

  # A folder at the file's place with neither file nor copy: moved aside;
  # nothing opens, not even the first-run password, until a guard has the
  # first-run file written.
  if part guardian-folder; then
    clean
    mkdir "$settings"
    : >"$settings/inside"
    start_guardian
    logged "moved $settings aside"
    [ -f "$(ls -d "$settings".*.moved)/inside" ] || fail "not moved aside whole"
    [ "$(ask "check 907")" = no ] && [ "$(XDG_SESSION_ID=c1 ask "quit 907")" = no ] ||
      fail "the first-run password opened with neither file nor copy"
    [ "$(ask firstrun)" = ok ] && file_is "$first_run" 907 0 || fail "no first-run file: $(cat -A "$settings" 2>&1)"
    [ "$(stat -c %a.%U "$settings")" = 600.root ] || fail "the first-run file is $(stat -c %a.%U "$settings")"
    stop_guardian
  fi
  # In a locked hour, one guardian for all: a stopped guard is ended and
  # replaced; the child's copies that report are not adopted, on another
  # display or from another file; and the sessions no guard covers for 30 s
  # are logged off: an X11 session in a kill loop every 50 ms, a Wayland
  # session and a text console, not an administrator's. The 30 s run beside
  # the rest. Each half also runs alone: guardian-frozen, guardian-logoff.
  frozen=$(part guardian-frozen && echo 1) logoff=$(part guardian-logoff && echo 1)
  if [ -n "$frozen$logoff" ]; then
    test="guardian-frozen and -logoff"
    clean
    # One allowed hour, twelve away from the guardian's: its zone is the
    # machine's (no TZ), as this date's without TZ.
    settings_text "$(((10#$(env -u TZ date +%H) + 12) % 24))" >"$settings"
    # A second child's account for the kill loop's session, and an administrator.
    parent=qorvel-parent kid2=qorvel-kid2
    id -u "$parent" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin -G sudo "$parent" ||
      fail "cannot add the administrator $parent"
    id -u "$kid2" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$kid2" ||
      fail "cannot add the account $kid2"
    xhost "+SI:localuser:$kid2" >/dev/null 2>&1
    calls="$QORVEL_BLACKBOX_TMP/guardian-logind-calls"
    for s in ${logoff:+"c2 x11 $kid2" "w1 wayland $kid" "t1 tty $kid" "a1 tty $parent"}; do
      read -r id type user <<<"$s"
      logind SetSessionOf "string:$id" "string:$type" string:active "string:$user" || fail "the stand-in refused $s"
    done
    : >"$calls"
    start_guardian
    from=$(date +%s%N)
    # The child's kill loop on its session's guards, as its own account; it
    # ends with the test's folder too.
    if [ -n "$logoff" ]; then
      setpriv --reuid="$kid2" --regid="$kid2" --clear-groups bash -c \
        'while [ -d "${1%/*}" ] && [ ! -e "$1" ]; do pkill -KILL -U "$(id -u)" -x qorvel; sleep 0.05; done' - \
        "$QORVEL_BLACKBOX_TMP/loop-ends" &
      loop=$!
      pids+=("$loop")
    fi
    new_guard 0
    logged "guard $guard of session c1 reports"
  fi
  if [ -n "$frozen" ]; then
    # The real program, run by the child in session c1 on a display of its own.
    # The server picks a free display and names it.
    Xvfb -displayfd 5 -screen 0 320x240x24 -nolisten tcp 5>"$QORVEL_BLACKBOX_TMP/display" >/dev/null 2>&1 &
    pids+=($!)
    wait_for '[ -n "$(cat "$QORVEL_BLACKBOX_TMP/display")" ]' && n=$(cat "$QORVEL_BLACKBOX_TMP/display") &&
      DISPLAY=:$n wait_for 'xdpyinfo >/dev/null 2>&1' || fail "no second display"
    XDG_SESSION_ID=c1 DISPLAY=:$n "${kid_env[@]}" "$exe" >/dev/null 2>&1 &
    decoy=$!
    pids+=("$decoy")
    DISPLAY=:$n wait_window "$decoy" Qorvel >/dev/null || fail "the copy on :$n did not come up"
    # Stopped, it reports no more: a new guard's window within 5 s (asserted
    # within 10 s, which a loaded 2-core machine meets).
    test="guardian-frozen (kill -STOP)"
    old=$guard stopped=$(date +%s%N)
    kill -STOP "$guard"
    wait_for 'grep -q "watching guard $decoy" "$glog" || one_new_guard "$old"' 60
    ms=$((($(date +%s%N) - stopped) / 1000000))
    echo "guardian-frozen: a stopped guard to its successor's window: $ms ms (goal 5000)"
    grep -q "watching guard $decoy" "$glog" && fail "adopted the copy on another display"
    [ "$guard" != "$old" ] && [ "$ms" -le 10000 ] || fail "no new guard within 10 s: $(cat "$glog")"
    ended "$old" || fail "the stopped guard was left"
    test="guardian-frozen (decoys)"
    logged "not adopting process $decoy in session c1: on display :$n"
    stop "$decoy"
    # A copy of the program's file, run by the child on the session's display.
    cp "$exe" "$QORVEL_BLACKBOX_TMP/qorvel"
    XDG_SESSION_ID=c1 "${kid_env[@]}" "$QORVEL_BLACKBOX_TMP/qorvel" >/dev/null 2>&1 &
    decoy=$!
    pids+=("$decoy")
    wait_window "$decoy" Qorvel >/dev/null || fail "the copied program did not come up"
    logged "guard $guard of session c1 reports"
    for _ in 1 2 3; do
      old=$guard
      kill -9 "$guard"
      wait_for 'grep -q "watching guard $decoy" "$glog" || one_new_guard "$old"' 60
      grep -q "watching guard $decoy" "$glog" && fail "adopted the copied program"
      grep -q "not adopting process $decoy in session c1: runs $QORVEL_BLACKBOX_TMP/qorvel" "$glog" && break
    done
    logged "not adopting process $decoy in session c1: runs $QORVEL_BLACKBOX_TMP/qorvel"
    stop "$decoy"
  fi
  if [ -n "$logoff" ]; then
    test="guardian-logoff"
    wait_for 'grep -qx "TerminateSession \"c2\"" "$calls"' 60 || fail "the kill loop's session was not ended: $(cat "$glog")"
    echo "guardian-logoff: the kill loop's start to TerminateSession: $((($(date +%s%N) - from) / 1000000)) ms (goal 40000)"
    touch "$QORVEL_BLACKBOX_TMP/loop-ends"
    for id in w1 t1; do
      wait_for "grep -qx 'TerminateSession \"$id\"' '$calls'" 60 || fail "session $id was not ended: $(cat "$glog")"
    done
    logged "session a1 of $parent is not covered in a locked hour; an administrator's session is not logged off"
    grep -q "TerminateSession \"a1\"" "$calls" && fail "the administrator's session was ended"
    grep -q "TerminateSession \"c1\"" "$calls" && fail "the guarded session was ended"
    stop "$loop"
    pkill -KILL -U "$kid2" -x qorvel
    for id in c2 w1 t1 a1; do logind RemoveSession "string:$id"; done
  fi
  if [ -n "$frozen$logoff" ]; then
    stop_guardian
  fi
  rm "$unit"
elif [ -n "${QORVEL_BLACKBOX_USERNS:-}" ]; then
  echo "skipped: the guardian (needs real root)"
fi

# On two real monitors (Xorg's dummy driver): locked covers each from corner
# to corner, above the rest; compact leaves the second free.
if runs every-monitor; then
  if [ -n "${QORVEL_BLACKBOX_XORG_DISPLAY:-}" ]; then
    clean
    settings_text "" >"$settings"
    monitors="$(DISPLAY=$QORVEL_BLACKBOX_XORG_DISPLAY xrandr --listmonitors |
      sed -n 's|.* \([0-9]*\)/[0-9]*x\([0-9]*\)/[0-9]*+\([0-9]*\)+\([0-9]*\).*|\1x\2+\3,\4|p')"
    covers() {  # the geometry of each window of the guard above the others
      local w
      for w in $(xdotool search --all --onlyvisible --pid "$guard" --name '^Qorvel$' 2>/dev/null); do
        state "$w" | grep -q ABOVE && geometry "$w"
      done | sort
    }
    DISPLAY=$QORVEL_BLACKBOX_XORG_DISPLAY start
    DISPLAY=$QORVEL_BLACKBOX_XORG_DISPLAY wait_for '[ "$(covers)" = "$(sort <<<"$monitors")" ]' ||
      fail "covered: $(DISPLAY=$QORVEL_BLACKBOX_XORG_DISPLAY covers | tr '\n' ' '); monitors: $(tr '\n' ' ' <<<"$monitors")"
    settings_text "$every_hour" >"$settings"
    DISPLAY=$QORVEL_BLACKBOX_XORG_DISPLAY wait_for '[ -z "$(covers)" ]' || fail "still covered while compact"
    stop "$guard"
  else
    echo "skipped: every-monitor (no Xorg dummy display; needs root and xserver-xorg-video-dummy)"
  fi
fi

# Without a display it can use, a clear message and exit code 1, never Qt's abort.
if runs no-display; then
  for display in "" :4999; do
    out="$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u DISPLAY ${display:+DISPLAY=$display} "$exe" 2>&1)"
    rc=$?
    [ $rc -eq 1 ] && grep -qF "qorvel: cannot open the X display (DISPLAY=${display:-not set})" <<<"$out" &&
      grep -qF "无法连接 X 显示" <<<"$out" || fail "DISPLAY=$display: $rc $out"
  done
fi

clean
echo "blackbox: all passed"
