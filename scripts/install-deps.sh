#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need. Idempotent: packages
# already present are not fetched again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format googletest libgtest-dev
  qt6-base-dev qt6-qpa-plugins
  libfbclient2 firebird-dev firebird3.0-server-core firebird3.0-server firebird3.0-utils
  fonts-noto-cjk xvfb xauth xdotool x11-utils iproute2 locales
  desktop-file-utils libxml2-utils dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# The locales the program and its tests run under: Japanese as the operators have it, and US
# English. Qt takes the formats from LANG/LC_* by itself, but without the C library's locale the
# program starts with a warning and falls back to C.UTF-8 for everything else.
ensure_locales() {
  local wanted=() name
  for name in ja_JP en_US; do
    locale -a 2>/dev/null | grep -qix "$name.utf-\?8" || wanted+=("$name")
  done
  [ ${#wanted[@]} -eq 0 ] && return 0
  for name in "${wanted[@]}"; do
    $sudo sed -i "s/^# *\($name.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen ||
      echo "$name.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
  done
  $sudo locale-gen >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
  ensure_locales
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
# The server package must not start the system-wide service: the tests run a private instance.
policy_added=0
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
  $sudo chmod +x /usr/sbin/policy-rc.d
  policy_added=1
fi
trap '[ $policy_added -eq 1 ] && $sudo rm -f /usr/sbin/policy-rc.d' EXIT
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_locales
