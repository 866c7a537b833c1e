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
  rsync time e2fsprogs btrfs-progs unison
  bindfs fuse3 rclone exfat-fuse exfatprogs mergerfs unionfs-fuse fuse-overlayfs sshfs openssh-server
  openssh-client squashfuse squashfs-tools fuse2fs
  qt6-base-dev qt6-svg-dev fonts-dejavu-core libicu-dev
  libx11-dev xvfb xauth openbox x11-utils desktop-file-utils
  xdotool imagemagick trayer python3-dbus python3-gi locales
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

# The screenshots run in en_US.UTF-8 and vi_VN.UTF-8 (a language the kit
# translates and the application does not) beside C.UTF-8.
for shot_locale in en_US vi_VN; do
  if ! locale -a 2>/dev/null | grep -qix "$shot_locale.utf8"; then
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" localedef -i "$shot_locale" -f UTF-8 "$shot_locale.UTF-8"
  fi
done
