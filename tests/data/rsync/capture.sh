#!/bin/sh
# Regenerates the captured rsync output in this folder from a fixed tree.
# Options are the ones the argument builder passes (native Linux traits).
set -eu
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

mkdir -p src/dir\ one dst/old\ dir dst/.KeltoSync
cd src
echo hi > plain.txt
echo x > "  lead"
echo y > "a -> b"
printf z > "$(printf 'caf\303\251')"
printf q > "$(printf 'bad\377\376name')"
echo w > 'back\#101slash'
printf 'tab\there' > "$(printf 'tab\there')"
ln -s "target file" "link -> odd"
ln -s "$(printf 'tgt\351')" lnk2
mkfifo fifo
head -c 3000000 /dev/zero > big.bin
cd ..
echo old > "dst/old dir/gone.txt"
echo e > "dst/$(printf 'x\377y')"
echo changed > dst/plain.txt
echo keep > dst/.KeltoSync/keep
# 2023-11-14 22:13:20 UTC for everything, links included.
find src dst -exec touch -h -d @1700000000 {} +

set -- --links --times --no-owner --no-group --no-human-readable --itemize-changes \
  "--out-format=%i %l %b %n" --info=progress2 --no-inc-recursive \
  --partial-dir=.KeltoSync/Partial --exclude=/.KeltoSync --modify-window=0 --timeout=0 --perms
export LC_ALL=C TZ=UTC0
rsync "$@" --list-only --recursive src/ > "$out/listing.txt"
rsync "$@" -X --recursive --delete --delete-delay --dry-run --itemize-changes src/ dst/ > "$out/dry-run-mirror.txt"
rsync "$@" -X --recursive --bwlimit=1000 src/big.bin dst/ > "$out/transfer-progress.txt"
