#!/usr/bin/env bash
# Installs the packages, makes a release build and starts Kelto Sync from its
# bundle. Without a display it runs under a virtual one and a session bus.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELTO_BUILD_TESTS=OFF -DKELTO_BUILD_BENCH=OFF
cmake --build build/release --target kelto-sync ${KELTO_BUILD_JOBS:+-j "$KELTO_BUILD_JOBS"}

program=build/release/bundle/Contents/bin/kelto-sync
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a dbus-run-session -- "$program" "$@"
fi
exec "$program" "$@"
