#!/usr/bin/env bash
# Checks the Debian package the way a machine meets it: dpkg installs,
# removes and purges it, inside a private mount namespace whose /usr, /etc
# and /var are in-memory layers over the real ones, so this machine's own
# files and package database never change. Needs root.
#   scripts/package-test.sh [build/linux/package/qorvel_<version>_amd64.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
deb="${1:-$(ls build/linux/package/qorvel_*_amd64.deb 2>/dev/null | tail -n 1)}"
[ -f "$deb" ] || { echo "package-test: no package; build it with cpack in build/linux" >&2; exit 1; }
if [ "$(id -u)" -ne 0 ]; then
  echo "package-test: needs root (dpkg); skipped" >&2
  exit 0
fi
deb="$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"

fail() { echo "package-test: $*" >&2; exit 1; }
fields() { dpkg-deb -f "$deb" "$@"; }
case "$(basename "$deb")" in qorvel_"$(fields Version)"_amd64.deb) ;; *) fail "unexpected name $(basename "$deb")" ;; esac
for dep in qt6-qpa-plugins libqt6widgets6 libqt6dbus6; do
  fields Depends | grep -q "$dep" || fail "Depends lacks $dep: $(fields Depends)"
done
contents="$(dpkg-deb -c "$deb")"
for path in ./usr/bin/qorvel ./usr/bin/qorvel-guardian ./usr/lib/systemd/system/qorvel-guardian.service \
  ./usr/share/applications/qorvel.desktop ./usr/share/icons/hicolor/scalable/apps/qorvel.svg \
  ./usr/share/polkit-1/rules.d/10-qorvel-timezone.rules; do
  grep -q " $path\$" <<<"$contents" || fail "missing $path"
done
! grep -q 'autostart' <<<"$contents" || fail "the package registers autostart itself"
# The polkit rule, run as polkit runs it where node is at hand: an administrator
# for the time zone, no answer (the desktop's own) for anything else.
if command -v node >/dev/null; then
  answers="$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/polkit-1/rules.d/10-qorvel-timezone.rules |
    node -e 'let rules = [], text = require("fs").readFileSync(0, "utf8");
      const polkit = {addRule: (f) => rules.push(f), Result: {AUTH_ADMIN_KEEP: "auth_admin_keep"}};
      eval(text);
      for (const id of ["org.freedesktop.timedate1.set-timezone", "org.freedesktop.timedate1.set-time",
                        "org.freedesktop.login1.power-off"])
        console.log(id, rules.map((r) => r({id}, {user: "kid"})).find((a) => a !== undefined));')" ||
    fail "polkit's rule does not run: $answers"
  [ "$answers" = "org.freedesktop.timedate1.set-timezone auth_admin_keep
org.freedesktop.timedate1.set-time undefined
org.freedesktop.login1.power-off undefined" ] || fail "polkit's rule answers: $answers"
fi

# Inside the namespace: install, start-up entry and settings as a user would
# leave them, remove, purge.
unshare --mount --propagation private -- bash -euo pipefail -c '
  fail() { echo "package-test: $*" >&2; exit 1; }
  for dir in /usr /etc /var; do
    layer=$(mktemp -d)
    mount -t tmpfs tmpfs "$layer"
    mkdir "$layer/upper" "$layer/work"
    mount -t overlay overlay -o "lowerdir=$dir,upperdir=$layer/upper,workdir=$layer/work" "$dir"
    umount -l "$layer"
    rmdir "$layer"
  done
  [ ! -e /var/lib/qorvel ] || rm -rf /var/lib/qorvel
  # No systemd runs here: enabled for the next boot, never started.
  mount -t tmpfs tmpfs /run
  export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  # As an earlier version left them: everyone'"'"'s folder, a user'"'"'s file.
  install -d -m 0777 /var/lib/qorvel
  printf "[mm]\nnober=1\n" >/var/lib/qorvel/mdb.ini
  chown 65534:65534 /var/lib/qorvel/mdb.ini
  chmod 0666 /var/lib/qorvel/mdb.ini
  dpkg -i "$1" >/dev/null || fail "dpkg -i failed"
  rights() { stat -c %a.%U.%G /var/lib/qorvel /var/lib/qorvel/mdb.ini | tr "\n" " "; }
  [ "$(rights)" = "755.root.root 600.root.root " ] || fail "the settings are $(rights)"
  grep -qx nober=1 /var/lib/qorvel/mdb.ini || fail "the settings were not kept"
  [ -L /etc/systemd/system/multi-user.target.wants/qorvel-guardian.service ] || fail "the guardian is not enabled"
  [ "$(stat -c %a.%U /var/lib/qorvel-guardian)" = 700.root ] || fail "/var/lib/qorvel-guardian is not root'"'"'s alone"
  # Where systemd runs (a stand-in systemctl), installing again restarts it and removing stops and disables it.
  mkdir -p /run/systemd/system /usr/local/sbin
  printf "#!/bin/sh\necho \"\$*\" >>/run/systemd/calls\n" >/usr/local/sbin/systemctl
  chmod +x /usr/local/sbin/systemctl
  dpkg -i "$1" >/dev/null || fail "dpkg -i over itself failed"
  [ "$(grep guardian /run/systemd/calls | tr "\n" ,)" = "stop qorvel-guardian.service,enable qorvel-guardian.service,restart qorvel-guardian.service," ] ||
    fail "systemctl calls on installing: $(cat /run/systemd/calls)"
  [ -x /usr/bin/qorvel ] || fail "no /usr/bin/qorvel"
  # Changing the time zone asks for an administrator; polkit reads the rule as installed.
  grep -q "org.freedesktop.timedate1.set-timezone" /usr/share/polkit-1/rules.d/10-qorvel-timezone.rules &&
    grep -q "polkit.Result.AUTH_ADMIN_KEEP" /usr/share/polkit-1/rules.d/10-qorvel-timezone.rules ||
    fail "no time zone rule for polkit"
  [ "$(stat -c %a.%U /usr/share/polkit-1/rules.d/10-qorvel-timezone.rules)" = 644.root ] ||
    fail "the polkit rule is $(stat -c %a.%U /usr/share/polkit-1/rules.d/10-qorvel-timezone.rules)"
  [ ! -e /etc/xdg/autostart/qorvel.desktop ] || fail "installing registered autostart"
  # No user may read the file, nor create or replace one.
  for try in "cat /var/lib/qorvel/mdb.ini" \
    "echo x > /var/lib/qorvel/mdb.ini.new && mv /var/lib/qorvel/mdb.ini.new /var/lib/qorvel/mdb.ini"; do
    ! setpriv --reuid=65534 --regid=65534 --clear-groups sh -c "$try" 2>/dev/null || fail "a user could: $try"
  done
  # A link at the file'"'"'s place is moved aside, its target untouched.
  mv /var/lib/qorvel/mdb.ini /root-settings
  ln -s /etc/hostname /var/lib/qorvel/mdb.ini
  before=$(stat -c %a.%U /etc/hostname)
  dpkg -i "$1" >/dev/null || fail "dpkg -i over a link failed"
  [ "$(stat -c %a.%U /etc/hostname)" = "$before" ] && [ ! -e /var/lib/qorvel/mdb.ini ] &&
    [ -L "$(ls -d /var/lib/qorvel/mdb.ini.*.moved)" ] || fail "the link: $(ls -l /var/lib/qorvel)"
  mv /root-settings /var/lib/qorvel/mdb.ini
  mkdir -p /etc/xdg/autostart && echo "[Desktop Entry]" > /etc/xdg/autostart/qorvel.desktop
  : >/run/systemd/calls
  dpkg -r qorvel >/dev/null || fail "dpkg -r failed"
  [ "$(tr "\n" , </run/systemd/calls)" = "stop qorvel-guardian.service,disable qorvel-guardian.service," ] ||
    fail "systemctl calls on removing: $(cat /run/systemd/calls)"
  [ ! -e /usr/bin/qorvel ] || fail "removing left /usr/bin/qorvel"
  [ -f /var/lib/qorvel/mdb.ini ] || fail "removing deleted the settings"
  [ ! -e /etc/xdg/autostart/qorvel.desktop ] || fail "removing left the start-up entry"
  dpkg -P qorvel >/dev/null || fail "dpkg -P failed"
  [ ! -e /var/lib/qorvel ] || fail "purging left /var/lib/qorvel"
  [ ! -e /var/lib/qorvel-guardian ] || fail "purging left the guardian'"'"'s copy"
' package-test "$deb"
echo "package-test: $(basename "$deb") ($(stat -c %s "$deb") bytes) installs, removes and purges as intended"
