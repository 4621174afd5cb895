#!/usr/bin/env bash
# Runs a command in a private mount namespace where /var/lib/qorvel (the
# settings file's directory), /etc/xdg/autostart (the start-up entry's),
# the guardian's /run/qorvel-guardian and /var/lib/qorvel-guardian, and the
# folders the guard looks in for the guardian's unit are the command's own,
# so this machine's guardian is not there: fresh tmpfs by default, or the directories named by
# QORVEL_SETTINGS_DIR and QORVEL_AUTOSTART_DIR, bind-mounted. The machine's
# real directories are never written. Root enters the namespace directly;
# other users through a user namespace in which they are root.
#   tests/blackbox/private-dirs.sh command [args...]
set -euo pipefail
if [ -z "${QORVEL_IN_PRIVATE_DIRS:-}" ]; then
  export QORVEL_IN_PRIVATE_DIRS=1
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --mount --propagation private -- "$0" "$@"
  fi
  exec unshare --user --map-root-user --mount --propagation private -- "$0" "$@"
fi
unset QORVEL_IN_PRIVATE_DIRS

# A missing directory is made inside an overlay of its nearest existing
# parent, whose upper layer lives in memory: the real parent stays as it is.
make_room() {
  local dir=$1 parent upper
  [ -d "$dir" ] && return 0
  parent=$(dirname "$dir")
  while [ ! -d "$parent" ]; do parent=$(dirname "$parent"); done
  upper=$(mktemp -d)
  mount -t tmpfs tmpfs "$upper"
  mkdir "$upper/upper" "$upper/work"
  mount -t overlay overlay -o "lowerdir=$parent,upperdir=$upper/upper,workdir=$upper/work" "$parent"
  # The overlay holds the layer; the temporary mount point can go.
  umount -l "$upper"
  rmdir "$upper"
  mkdir -p "$dir"
}

# The settings folder as an earlier version left it, open to every user (the
# guardian closes it); only root may write the autostart folder.
private_dir() {
  local dir=$1 mode=$2 source=${3:-}
  if [ -n "$source" ]; then
    mount --bind "$source" "$dir"
  else
    mount -t tmpfs -o "mode=$mode" tmpfs "$dir"
  fi
}

# Every room first: a later overlay of a parent would hide earlier mounts.
units=(/usr/lib/systemd/system /lib/systemd/system /usr/local/lib/systemd/system /etc/systemd/system)
for dir in /var/lib/qorvel /etc/xdg/autostart /run/qorvel-guardian /var/lib/qorvel-guardian "${units[0]}"; do
  make_room "$dir"
done
private_dir /var/lib/qorvel 0777 "${QORVEL_SETTINGS_DIR:-}"
private_dir /etc/xdg/autostart 0755 "${QORVEL_AUTOSTART_DIR:-}"
private_dir /run/qorvel-guardian 0755
private_dir /var/lib/qorvel-guardian 0700
# /lib is often a link to /usr/lib: each folder once.
mounted=" "
for dir in "${units[@]}"; do
  real=$(readlink -f "$dir") || continue
  [ -d "$real" ] && [[ "$mounted" != *" $real "* ]] || continue
  private_dir "$real" 0755
  mounted+="$real "
done
exec "$@"
