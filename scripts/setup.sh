#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the benchmarks need.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libutf8proc-dev uuid-dev libfmt-dev libsodium-dev
  libsqlite3-dev sqlite3
  libhowardhinnant-date-dev tzdata
  libmount-dev libblkid-dev libsystemd-dev dbus-daemon
  rsync time e2fsprogs unison
  qt6-base-dev qt6-svg-dev fonts-dejavu-core libicu-dev
  libx11-dev xvfb xauth openbox x11-utils desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
