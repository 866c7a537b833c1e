#!/bin/sh
# Start-up of the real kelto-sync program with 0 and 200 jobs: the time from
# starting it to its main window being mapped, and its resident memory
# (VmRSS) after 10 s idle. Each launch gets a scratch home whose jobs file
# and settings KeltoStartupHome writes (onboarding done, so no checklist),
# on a virtual X server with a session bus of its own.
#
#   bench/startup-bench.sh BUILD_FOLDER [RUNS]
#
# BUILD_FOLDER is a build with the benchmarks (Release to measure); RUNS
# launches per job count, 3 by default. Needs xvfb-run, dbus-run-session and
# xwininfo.
set -eu

if [ "${1:-}" != "--inside" ]; then
  build=$(cd "${1:?usage: startup-bench.sh BUILD_FOLDER [RUNS]}" && pwd)
  runs=${2:-3}
  for tool in xvfb-run dbus-run-session xwininfo; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
  done
  exec xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- "$0" --inside "$build" "$runs"
fi

build=$2
runs=$3
program=$build/bundle/Contents/bin/kelto-sync
layout=$build/bench/KeltoStartupHome
for file in "$program" "$layout"; do
  [ -x "$file" ] || { echo "missing $file: build the kelto-sync and KeltoStartupHome targets" >&2; exit 1; }
done
# A sanitizer build reports its leaks at exit; that is not what is measured.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export ASAN_OPTIONS QT_QPA_PLATFORM=xcb

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# The main window: named "Kelto Sync" with the program's class (a 1x1 helper
# window shares the name).
mapped() {
  id=$(xwininfo -root -tree 2>/dev/null | awk '/"Kelto Sync": \("kelto-sync"/ { print $1; exit }')
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q "Map State: IsViewable"
}

# One launch: prints "<milliseconds to the window> <VmRSS kB after 10 s>".
launch() {
  count=$1
  home=$(mktemp -d)
  mkdir -m 700 "$home/run"
  HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_STATE_HOME=$home/state \
    XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/run "$layout" "$home/folders" "$count"
  started=$(now_ms)
  HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_STATE_HOME=$home/state \
    XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/run "$program" >"$home/output" 2>&1 &
  pid=$!
  until mapped; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "kelto-sync ended before showing its window:" >&2; cat "$home/output" >&2; exit 1
    fi
    if [ $(( $(now_ms) - started )) -gt 60000 ]; then
      echo "no main window after 60 s" >&2; kill "$pid"; exit 1
    fi
  done
  shown=$(( $(now_ms) - started ))
  sleep 10
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
  kill -TERM "$pid"
  wait "$pid" || { echo "kelto-sync did not exit cleanly on SIGTERM:" >&2; cat "$home/output" >&2; exit 1; }
  rm -rf "$home"
  echo "$shown $rss"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

printf '%6s  %28s  %28s\n' "jobs" "start to main window (ms)" "VmRSS after 10 s idle (MiB)"
printf '%6s  %28s  %28s\n' "" "median (min-max)" "median (min-max)"
for count in 0 200; do
  results=$(mktemp)
  i=0
  while [ "$i" -lt "$runs" ]; do
    launch "$count" >>"$results"
    i=$((i + 1))
  done
  times=$(cut -d' ' -f1 "$results" | median)
  tmin=$(cut -d' ' -f1 "$results" | sort -n | head -1)
  tmax=$(cut -d' ' -f1 "$results" | sort -n | tail -1)
  rss=$(cut -d' ' -f2 "$results" | median)
  rmin=$(cut -d' ' -f2 "$results" | sort -n | head -1)
  rmax=$(cut -d' ' -f2 "$results" | sort -n | tail -1)
  printf '%6s  %28s  %28s\n' "$count" "$times ($tmin-$tmax)" \
    "$(awk -v m="$rss" -v a="$rmin" -v b="$rmax" 'BEGIN { printf "%.1f (%.1f-%.1f)", m / 1024, a / 1024, b / 1024 }')"
  rm -f "$results"
done
