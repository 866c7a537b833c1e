#!/bin/sh
# Black-box check of kelto-run-job: a mirror run with the archive, then the
# safety guard refusing to mirror an empty source over a full destination.
set -eu
driver="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/src" "$tmp/dst"
echo new > "$tmp/src/a file"
echo old > "$tmp/dst/gone"

out=$("$driver" "$tmp/src" "$tmp/dst" "$tmp/support" "$tmp/logs")
echo "$out" | grep -q '"outcome":"success"' || { echo "run failed: $out"; exit 1; }
echo "$out" | grep -q '"filesArchived":1' || { echo "nothing archived: $out"; exit 1; }
test -f "$tmp/dst/a file"
test ! -e "$tmp/dst/gone"
test -n "$(find "$tmp/dst/.KeltoSync/Archive" -name gone)"
test -n "$(find "$tmp/logs" -name '*.log' -size +0)"

rm "$tmp/src/a file"
status=0
out=$("$driver" "$tmp/src" "$tmp/dst" "$tmp/support" "$tmp/logs") || status=$?
test "$status" = 1 || { echo "expected the guard to stop the run: $out"; exit 1; }
echo "$out" | grep -q '"reason":"emptySource"' || { echo "unexpected verdict: $out"; exit 1; }
test -f "$tmp/dst/a file"
echo ok
