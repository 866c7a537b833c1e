#!/usr/bin/env bash
# One run of scripts/screenshots.sh, on its virtual screen and session bus:
#   session.sh BUNDLE OUT LOCALE THEME
set -euo pipefail
[ -z "${SHOTS_TRACE:-}" ] || set -x
here="$(cd "$(dirname "$0")" && pwd)"
bundle="$1" out="$2" locale="$3" theme="$4"
prefix="$out/$locale-$theme"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/kelto-shots.XXXXXX")"
pids=()
frozen=()
cleanup() {
  local pid
  # A frozen copy must run again to see its end.
  for pid in "${frozen[@]}"; do kill -CONT "$pid" 2>/dev/null || true; done
  if [ -n "${app:-}" ] && kill -0 "$app" 2>/dev/null; then
    kill -TERM "$app" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$app" 2>/dev/null || true
  fi
  for pid in "${frozen[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "screenshots: $*" >&2
  import -window root "$prefix-FAILED.png" 2>/dev/null || true
  # What the application and its runs wrote, to tell why.
  mkdir -p "$prefix-FAILED-logs"
  cp -r "$scratch/app.log" "$home/.local/state/kelto-sync/logs" "$prefix-FAILED-logs/" 2>/dev/null || true
  exit 1
}

# A copy of the bundle whose rsync copies at a walking pace, so that a run
# can be caught part way; it notes the transfers that take a list of files.
mkdir -p "$scratch/bundle"
cp -al "$bundle/Contents" "$scratch/bundle/" 2>/dev/null || cp -a "$bundle/Contents" "$scratch/bundle/"
rm "$scratch/bundle/Contents/Helpers/rsync"
cp "$bundle/Contents/Helpers/rsync" "$scratch/bundle/Contents/Helpers/rsync.real"
cat >"$scratch/bundle/Contents/Helpers/rsync" <<EOF
#!/bin/bash
case "\$*" in
  *--files-from=*)
    # A copy: what it reports is kept too, to hold it where the window
    # shows 40 %.
    echo \$\$ >>"$scratch/transfers"
    "$scratch/bundle/Contents/Helpers/rsync.real" --bwlimit=2000 "\$@" | tee -a "$scratch/progress"
    exit "\${PIPESTATUS[0]}"
    ;;
  *) exec "$scratch/bundle/Contents/Helpers/rsync.real" --bwlimit=2000 "\$@" ;;
esac
EOF
chmod +x "$scratch/bundle/Contents/Helpers/rsync"

home="$scratch/home"
mkdir -p "$home" "$scratch/run"
chmod 700 "$scratch/run"
/usr/bin/python3 "$here/fixtures.py" "$home" "$scratch/data"

openbox >/dev/null 2>&1 &
pids+=($!)
# The panel is drawn in the desktop's look, as the portal tells it.
panel=0xe4e4e4
[ "$theme" = dark ] && panel=0x262626
trayer --edge top --align right --widthtype request --height 28 --SetDockType true --transparent true --alpha 0 \
  --tint "$panel" >/dev/null 2>&1 &
pids+=($!)
/usr/bin/python3 "$here/settings-portal.py" "$theme" >"$scratch/portal" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$scratch/portal" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$scratch/portal" || fail "the settings portal did not start: $(cat "$scratch/portal")"
# The notification server notes what it is given, and clicks one on request.
/usr/bin/python3 "$here/notifications.py" "$scratch/notified" >"$scratch/notifier" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$scratch/notifier" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$scratch/notifier" || fail "the notification server did not start: $(cat "$scratch/notifier")"

# The main thread of the application waits for events: what was posted
# before has been handled and painted.
idle() {
  local quiet=0
  for _ in $(seq 200); do
    read -r number _ <"/proc/$app/syscall" 2>/dev/null || fail "kelto-sync ended"
    if [ "$number" = 7 ] || [ "$number" = 271 ]; then
      quiet=$((quiet + 1))
      [ "$quiet" -ge 3 ] && return 0
    else
      quiet=0
    fi
    sleep 0.05
  done
}

# The application's windows on screen with that title, but for its tray
# icon. (xdotool's search misses some of them: the window tree is read
# instead.)
shown() {
  local id
  xwininfo -root -tree | grep -F "\"$1\": (\"kelto-sync\"" |
    awk '{ split($0, size, /\)  /); split(size[2], wh, /[x+]/); if (wh[1] >= 100) print $1 }' | while read -r id; do
    if xwininfo -id "$id" 2>/dev/null | grep -q IsViewable; then echo "$id"; fi
  done
}

# Waits for a window of that title other than the given ones.
another() {
  local name="$1" id known fresh
  shift
  for _ in $(seq 300); do
    for id in $(shown "$name"); do
      fresh=1
      for known in "$@"; do [ "$((id))" = "$((known))" ] && fresh=0; done
      if [ "$fresh" = 1 ]; then echo "$id"; return 0; fi
    done
    sleep 0.1
  done
  fail "no window named $name"
}

window() { another "$1"; }

# Escape closes it. A window that opens with no widget focused passes the
# key on to no one, so later tries move the focus into it first. A dialog
# has the keyboard when it opens; activating it through the window manager
# would hand the keyboard to its parent instead.
dismiss() {
  local try
  for try in 1 2 3 4 5; do
    if [ "$try" -ge 3 ]; then xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true; fi
    [ "$try" = 1 ] || keys Tab
    keys Escape
    for _ in $(seq 20); do
      xwininfo -id "$1" 2>/dev/null | grep -q IsViewable || return 0
      sleep 0.1
    done
  done
  fail "window $1 stays open"
}

# The window manager can mark a window active and leave the keyboard with
# its parent, so the input focus is set as well.
focus() {
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || true
  xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
  idle
}

# The tray's only icon opens the popup.
openTray() {
  local tray
  tray=$(timeout 30 xdotool search --sync --onlyvisible --name "^panel\$" | head -1)
  eval "$(xdotool getwindowgeometry --shell "$tray")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
  idle
}

# The tray's popup: the application's window 360 wide.
popupWindow() {
  xwininfo -root -tree | grep -F '("kelto-sync"' | grep -E ' 360x[0-9]+\+' | awk '{ print $1 }' | head -1 || true
}

keys() {
  xdotool key --delay 60 "$@"
  idle
}

shot() {
  idle
  sleep 0.2
  import -window root "$prefix-$1.png"
  echo "$prefix-$1.png"
}

# Holds the two-way copy where the window shows about 40 %: stops the copy
# and every process under it. rsync reports once a second and ends each
# report with the start of the next, so the window shows the one before
# the last.
descendants() {
  local child
  for child in $(pgrep -P "$1" || true); do
    echo "$child"
    descendants "$child"
  done
}

freezeTransfer() {
  local pid percent
  for _ in $(seq 600); do
    percent=$(tr '\r' '\n' <"$scratch/progress" 2>/dev/null | grep -o '[0-9]*%' | tail -2 | head -1 | tr -d %)
    if [ "${percent:-0}" -ge 38 ]; then
      pid=$(tail -1 "$scratch/transfers")
      for pid in $(descendants "$pid"); do
        kill -STOP "$pid" 2>/dev/null && frozen+=("$pid")
      done
      return 0
    fi
    sleep 0.05
  done
  fail "the two-way run did not reach 40 %"
}

export HOME="$home" XDG_RUNTIME_DIR="$scratch/run" LANG="$locale" LC_ALL="$locale" LANGUAGE=
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_CACHE_HOME QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
export QT_QPA_PLATFORM=xcb
# Qt's keyboard set-up hands strndup an unterminated buffer; a sanitizer
# build would take that for an overflow.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0:detect_leaks=0"
"$scratch/bundle/Contents/bin/kelto-sync" >"$scratch/app.log" 2>&1 &
app=$!

# First launch: the setup checklist opens over the main window.
checklist=$(window "Set up Kelto Sync")
shot checklist
dismiss "$checklist"

# The catch-up runs at launch: the mirror stops for review, the two-way job
# copies until it is held at 40 %.
freezeTransfer
main=$(window "Kelto Sync")
focus "$main"
shot main

# The keyboard starts on "New job"; the sheet's empty folders are its issue.
keys space
sheet=$(window "New job")
shot new-job
dismiss "$sheet"

# The list takes the focus with its first job, "Documents"; the name field
# and the checked tab follow, and an arrow key switches tabs.
focus "$main"
keys Tab
shot overview
keys Tab Tab Right
shot settings

# The mirror's review is reached from its notification, with the main
# window closed: the window opens with the sheet over it. The notice stays
# listed.
notice=""
for _ in $(seq 300); do
  notice=$(awk '$2 == "Review" && $3 == "needed" { id = $1 } END { print id }' "$scratch/notified" 2>/dev/null)
  [ -n "$notice" ] && break
  sleep 0.1
done
[ -n "$notice" ] || fail "no review notification"
keys alt+F4
for _ in $(seq 20); do
  xwininfo -id "$main" 2>/dev/null | grep -q IsViewable || break
  sleep 0.1
done
notify() {
  gdbus call --session --dest org.freedesktop.Notifications --object-path /org/freedesktop/Notifications \
    --method "org.kelto.Shots.$1" "$notice" >/dev/null
}
notify Open
review=$(window "Needs review")
main=$(window "Kelto Sync")
# Read a second, the review takes "Continue".
sleep 1
shot review

# Minimised, the window comes back with its sheet when the notice is
# clicked, and the sheet has the keyboard: Space closes its "Details".
xdotool windowminimize "$main"
for _ in $(seq 50); do xwininfo -id "$review" 2>/dev/null | grep -q IsViewable || break; sleep 0.1; done
notify Click
for _ in $(seq 100); do xwininfo -id "$review" 2>/dev/null | grep -q IsViewable && break; sleep 0.1; done
xwininfo -id "$review" 2>/dev/null | grep -q IsViewable || fail "the sheet did not come back"
idle
keys space
sleep 1
shot review-restored

# The tray's button of the parked job now stops it: the run is dropped, and
# the sheet, still open, says it no longer waits; Escape closes it.
openTray
popup=$(popupWindow)
[ -n "$popup" ] || fail "no tray popup"
eval "$(xdotool getwindowgeometry --shell "$popup")"
# Photos, the second card: its button at the end of its first line.
xdotool mousemove $((X + 305)) $((Y + 176)) click 1
idle
keys Escape
shot review-stale
dismiss "$review"
# The reopened window has no focus in its list: a click on "Projects",
# the third row, puts it there.
focus "$main"
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 80)) $((Y + 170)) click 1
idle
shot running

# "Show all history…" comes after the name, the tab, the menu, "Sync now",
# "Preview" and the two recent runs.
keys Up Up Tab Tab Tab Tab Tab Tab Tab space
history=$(window "History")
shot history
dismiss "$history"

# No file manager shows the two-way "Notes" job's folders (the sixth row):
# one alert names both sides and has the keyboard; Return answers it.
focus "$main"
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 80)) $((Y + 314)) click 1
idle
# "Open in File Manager" comes after the name, the two tabs, the menu,
# "Sync now", "Preview" and "Show all history…".
keys Tab Tab Tab Tab Tab Tab Tab Tab space
opener=$(another "Kelto Sync" "$main")
shot opener-alert
keys Return
for _ in $(seq 50); do xwininfo -id "$opener" 2>/dev/null | grep -q IsViewable || break; sleep 0.1; done
xwininfo -id "$opener" 2>/dev/null | grep -q IsViewable && fail "the opener's alert ignores Return"

focus "$main"
keys ctrl+comma
settings=$(window "Kelto Sync Settings")
focus "$settings"
shot settings-general
xdotool type --delay 60 login
idle
shot settings-search
keys ctrl+a BackSpace Tab Down
shot settings-permissions
keys Down
shot settings-about
# The window manager's close key, so the tray's popup shows on its own.
focus "$settings"
keys alt+F4
for _ in $(seq 20); do
  xwininfo -id "$settings" 2>/dev/null | grep -q IsViewable || break
  sleep 0.1
done

openTray
shot tray
keys Escape

# Quitting while the two-way job runs asks first.
focus "$main"
keys ctrl+q
alert=$(another "Kelto Sync" "$main")
shot alert
dismiss "$alert"

# The alert that deletes a job names it whole in its title bar, however
# long the name: "Videos", the seventh row, is renamed and saved, and the
# bin (before the list in the keyboard's order) asks. Escape keeps the job.
focus "$main"
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 80)) $((Y + 362)) click 1
idle
keys Tab ctrl+a
long="Photographs of the family from the old laptop, the studio's shared drive and the phone, by the year"
# The bin asks by the name stored: wait for the save to land, and type the
# name again where a busy machine lost a key of it.
for _ in 1 2 3; do
  xdotool type --delay 20 "$long"
  keys ctrl+s
  for _ in $(seq 50); do
    grep -qF "$long" $(find "$home" -name jobs.json) 2>/dev/null && break 2
    sleep 0.1
  done
  keys ctrl+a
done
xdotool mousemove $((X + 80)) $((Y + 362)) click 1
idle
keys shift+Tab space
deletion=$(another "$long" "$main")
shot delete-alert
dismiss "$deletion"

# A review that comes on screen takes no press at first: "Continue" looks
# unavailable until it has been there a second. The two-way run goes on to
# its end, then "Photos", the second row, runs again from its "Sync now"
# and stops for review.
for pid in "${frozen[@]}"; do kill -CONT "$pid" 2>/dev/null || true; done
frozen=()
focus "$main"
xdotool mousemove $((X + 80)) $((Y + 122)) click 1
idle
xdotool mousemove $((X + 326)) $((Y + 228)) click 1
fresh=$(window "Needs review")
idle
import -window root "$prefix-review-fresh.png"
echo "$prefix-review-fresh.png"
sleep 1.2
shot review-fresh-read
dismiss "$fresh"

# A changed job left for another asks first: "Notes", the sixth row, gets a
# longer name, then "Documents", the first, is clicked. The question names
# the job as edited; Escape keeps editing.
focus "$main"
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 80)) $((Y + 314)) click 1
idle
keys Tab End
xdotool type --delay 60 " 2"
xdotool mousemove $((X + 80)) $((Y + 74)) click 1
idle
question=$(window "Notes 2")
shot leave-draft
dismiss "$question"
