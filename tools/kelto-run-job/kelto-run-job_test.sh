#!/bin/sh
# Black-box check of kelto-run-job: a mirror run with the archive, its log and
# history, then the safety guard refusing to mirror an empty source over a
# full destination.
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
log=$(find "$tmp/logs" -name '*.log')
test "$(tail -n 1 "$log")" = "Outcome: success" || { echo "unexpected log: $(cat "$log")"; exit 1; }
test -n "$(find "$tmp/support/history" -name '*.json' -size +0)"

rm "$tmp/src/a file"
status=0
out=$("$driver" "$tmp/src" "$tmp/dst" "$tmp/support" "$tmp/logs") || status=$?
test "$status" = 1 || { echo "expected the guard to stop the run: $out"; exit 1; }
echo "$out" | grep -q '"outcome":"failed","message":"Source is empty' || { echo "unexpected outcome: $out"; exit 1; }
test -f "$tmp/dst/a file"
# No retention so short that a run's own archive would be pruned as it ends.
for days in 0 -3; do
  status=0
  "$driver" --retention-days "$days" "$tmp/src" "$tmp/dst" "$tmp/support" "$tmp/logs" >/dev/null 2>&1 || status=$?
  test "$status" = 2 || { echo "--retention-days $days was taken"; exit 1; }
done
echo ok
