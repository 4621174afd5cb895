# Sourced by the run and test commands: installs whatever is missing on a
# Debian machine, once.
qorvel_need_packages() {
  local missing=()
  command -v cmake >/dev/null || missing+=(cmake)
  command -v ninja >/dev/null || missing+=(ninja-build)
  command -v g++ >/dev/null || missing+=(g++)
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
  command -v x86_64-w64-mingw32-windres >/dev/null || missing+=(binutils-mingw-w64-x86-64)
  command -v wine >/dev/null || missing+=(wine)
  [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
  command -v Xvfb >/dev/null || missing+=(xvfb)
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  [ -d /usr/lib/x86_64-linux-gnu/cmake/benchmark ] || missing+=(libbenchmark-dev)
  command -v locale-gen >/dev/null || missing+=(locales)
  # Xorg's dummy driver: real RandR monitors for the multi-monitor tests.
  [ -x /usr/lib/xorg/Xorg ] || missing+=(xserver-xorg-core)
  [ -f /usr/lib/xorg/modules/drivers/dummy_drv.so ] || missing+=(xserver-xorg-video-dummy)
  command -v xrandr >/dev/null || missing+=(x11-xserver-utils)
  command -v makensis >/dev/null || missing+=(nsis)
  # Without -q grep reads to the end, so fc-list never dies of SIGPIPE (pipefail).
  fc-list 2>/dev/null | grep -i -e "WenQuanYi" -e "Noto Sans CJK" >/dev/null || missing+=(fonts-wqy-microhei)
  # libFuzzer with Debian's clang, for scripts/fuzz.
  command -v clang++-14 >/dev/null || missing+=(clang-14)
  compgen -G '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || missing+=(libclang-rt-14-dev)
  # The Linux program: Qt 6 with its X11 platform plugin and D-Bus; Xlib and
  # xcb headers; openbox, xdotool and xprop for the tests that drive the real
  # windows; dbus-daemon for the private bus; dpkg-shlibdeps for the package.
  compgen -G '/usr/lib/*/cmake/Qt6Widgets/Qt6WidgetsConfig.cmake' >/dev/null || missing+=(qt6-base-dev)
  compgen -G '/usr/lib/*/qt6/plugins/platforms/libqxcb.so' >/dev/null || missing+=(qt6-qpa-plugins)
  [ -f /usr/include/X11/Xlib.h ] || missing+=(libx11-dev)
  command -v openbox >/dev/null || missing+=(openbox)
  command -v xdotool >/dev/null || missing+=(xdotool)
  command -v xprop >/dev/null || missing+=(x11-utils)
  command -v dbus-daemon >/dev/null || missing+=(dbus)
  # libfaketime moves the black-box test's clock to just before a lock.
  compgen -G '/usr/lib/*/faketime/libfaketime.so.1' >/dev/null || missing+=(faketime)
  command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
  # Mutant builds share their unchanged objects through a cache.
  command -v ccache >/dev/null || missing+=(ccache)
  # Nothing at all when nothing is missing: one empty line would still count.
  [ "${#missing[@]}" -eq 0 ] || printf '%s\n' "${missing[@]}"
}

qorvel_ensure_deps() {
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  mapfile -t pkgs < <(qorvel_need_packages)
  if [ "${#pkgs[@]}" -gt 0 ]; then
    echo "Installing: ${pkgs[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
      "${pkgs[@]}" fontconfig >/dev/null
  fi
  # Wine's ANSI code page follows the locale: zh_CN.UTF-8 gives 936.
  if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    "${sudo[@]}" sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo[@]}" locale-gen >/dev/null
  fi
}

# Starts Xvfb on a free display and exports DISPLAY; QORVEL_XVFB_PID names it.
qorvel_start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    QORVEL_XVFB_PID=$!
    # Ready once it answers; one that ended lost the display to another.
    for _ in $(seq 300); do
      kill -0 "$QORVEL_XVFB_PID" 2>/dev/null || break
      DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && { export DISPLAY=":$n"; return 0; }
      sleep 0.1
    done
    kill "$QORVEL_XVFB_PID" 2>/dev/null || true
  done
  echo "could not start Xvfb" >&2
  return 1
}

# Starts Xorg with the dummy driver on a free display, with two monitors side
# by side (1280x1024, then 1024x768 to its right), and exports
# QORVEL_XORG_DISPLAY; QORVEL_XORG_PID names it. Its log goes to $1. Needs
# root (CI) or a system that lets the user start Xorg; fails otherwise.
qorvel_start_xorg_dummy() {
  local log_dir="$1" n conf
  conf="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/xorg-dummy.conf"
  mkdir -p "$log_dir"
  for n in $(seq 150 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xorg ":$n" -config "$conf" -logfile "$log_dir/xorg.log" -novtswitch -sharevts -nolisten tcp \
      -noreset >/dev/null 2>&1 &
    QORVEL_XORG_PID=$!
    local up=""
    for _ in $(seq 100); do
      DISPLAY=":$n" xrandr >/dev/null 2>&1 && { up=1; break; }
      kill -0 "$QORVEL_XORG_PID" 2>/dev/null || break
      sleep 0.1
    done
    if [ -z "$up" ]; then
      kill "$QORVEL_XORG_PID" 2>/dev/null || true
      QORVEL_XORG_PID=""
      echo "could not start Xorg with the dummy driver (see $log_dir/xorg.log)" >&2
      return 1
    fi
    DISPLAY=":$n" xrandr --output DUMMY0 --mode 1280x1024 --pos 0x0
    DISPLAY=":$n" xrandr --newmode qorvel1024x768 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync
    DISPLAY=":$n" xrandr --addmode DUMMY1 qorvel1024x768
    DISPLAY=":$n" xrandr --output DUMMY1 --mode qorvel1024x768 --right-of DUMMY0
    for _ in $(seq 100); do
      if DISPLAY=":$n" xrandr --listmonitors | grep -q '^Monitors: 2'; then
        export QORVEL_XORG_DISPLAY=":$n"
        return 0
      fi
      sleep 0.1
    done
    echo "the dummy display did not show two monitors" >&2
    return 1
  done
  echo "no free display for Xorg" >&2
  return 1
}
