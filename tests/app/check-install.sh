#!/bin/sh
# Installs the build into a scratch prefix: the desktop file validates, the
# bundle keeps the program beside its rsync, and bin/ links to the program.
# Exits 77 (skipped) where desktop-file-validate is not installed.
set -eu
cmake=$1
build=$2
if ! command -v desktop-file-validate >/dev/null; then
  echo "desktop-file-validate not installed: skipped"
  exit 77
fi
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
desktop-file-validate "$prefix/share/applications/kelto-sync.desktop"
test -x "$prefix/lib/kelto-sync/Contents/bin/kelto-sync"
test -x "$prefix/lib/kelto-sync/Contents/Helpers/rsync"
test "$(readlink -f "$prefix/bin/kelto-sync")" = "$(readlink -f "$prefix/lib/kelto-sync/Contents/bin/kelto-sync")"
echo "installed desktop file and bundle are fine"
