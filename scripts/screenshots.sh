#!/usr/bin/env bash
# Screenshots of the application as a person sees it: starts the bundle in a
# scratch home on a virtual 1440x900 screen under openbox, with a private
# session bus, a tray and jobs in every state, drives it with the keyboard
# and the mouse, and writes one PNG per state to build/screenshots/ as
# <locale>-<light|dark>-<state>.png.
#
#   scripts/screenshots.sh [bundle]
#
# The bundle defaults to the release bundle, built as scripts/run.sh builds
# it. SHOTS_LOCALES and SHOTS_THEMES narrow the runs (default "C.UTF-8
# en_US.UTF-8 vi_VN.UTF-8", the last a language the kit translates, and
# "light dark"); SHOTS_OUT names another output folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"

# The states, in the order they are taken.
states="checklist main new-job overview settings review review-restored review-stale running history opener-alert
settings-general settings-search settings-permissions settings-about tray alert delete-alert review-fresh review-fresh-read leave-draft"

case "${1:-}" in
  --states) echo $states; exit 0 ;;
  --session) shift; exec bash "$here/screenshots/session.sh" "$@" ;;
esac

cd "$root"
bundle="${1:-}"
if [ -z "$bundle" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELTO_BUILD_TESTS=OFF -DKELTO_BUILD_BENCH=OFF >/dev/null
  cmake --build build/release --target kelto-sync ${KELTO_BUILD_JOBS:+-j "$KELTO_BUILD_JOBS"}
  bundle=build/release/bundle
fi
bundle="$(cd "$bundle" && pwd)"
[ -x "$bundle/Contents/bin/kelto-sync" ] || { echo "no kelto-sync in $bundle" >&2; exit 2; }

for tool in xvfb-run Xvfb openbox trayer dbus-run-session xdotool import identify /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/setup.sh installs it)" >&2; exit 77; }
done

out="${SHOTS_OUT:-$root/build/screenshots}"
mkdir -p "$out"
status=0
for locale in ${SHOTS_LOCALES:-C.UTF-8 en_US.UTF-8 vi_VN.UTF-8}; do
  if ! LC_ALL="$locale" locale charmap >/dev/null 2>&1 || [ "$(LC_ALL="$locale" locale charmap 2>/dev/null)" != UTF-8 ]; then
    echo "locale $locale is not available (scripts/setup.sh generates it)" >&2
    exit 77
  fi
  for theme in ${SHOTS_THEMES:-light dark}; do
    echo "== $locale $theme"
    xvfb-run -a -s "-screen 0 1440x900x24" \
      dbus-run-session -- bash "$0" --session "$bundle" "$out" "$locale" "$theme" || status=$?
    [ "$status" -eq 0 ] || { echo "screenshots of $locale $theme failed" >&2; exit "$status"; }
  done
done
