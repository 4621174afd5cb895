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
  command -v makensis >/dev/null || missing+=(nsis)
  fc-list 2>/dev/null | grep -qi -e "WenQuanYi" -e "Noto Sans CJK" || missing+=(fonts-wqy-microhei)
  printf '%s\n' "${missing[@]}"
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
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n"; return 0; }
      sleep 0.1
    done
    kill "$QORVEL_XVFB_PID" 2>/dev/null || true
  done
  echo "could not start Xvfb" >&2
  return 1
}
