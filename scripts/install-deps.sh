#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need. Idempotent: packages
# already present are not fetched again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format googletest libgtest-dev
  qt6-base-dev qt6-qpa-plugins
  libfbclient2 firebird-dev firebird3.0-server-core firebird3.0-server firebird3.0-utils
  fonts-noto-cjk xvfb xauth xdotool x11-utils iproute2
  desktop-file-utils libxml2-utils dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
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
