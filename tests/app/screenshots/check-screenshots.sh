#!/usr/bin/env bash
# Runs scripts/screenshots.sh against a bundle in one locale and appearance
# and checks that every state's picture was written and is not blank.
#   check-screenshots.sh BUNDLE OUT
set -euo pipefail
bundle="$1" out="$2"
root="$(cd "$(dirname "$0")/../../.." && pwd)"
locale="${SHOTS_LOCALES:-en_US.UTF-8}" theme="${SHOTS_THEMES:-dark}"

rm -rf "$out"
SHOTS_OUT="$out" SHOTS_LOCALES="$locale" SHOTS_THEMES="$theme" bash "$root/scripts/screenshots.sh" "$bundle"

missing=0
for state in $(bash "$root/scripts/screenshots.sh" --states); do
  file="$out/$locale-$theme-$state.png"
  if [ ! -s "$file" ]; then
    echo "missing: $file"
    missing=1
    continue
  fi
  # One colour over the whole screen is a blank picture.
  colours=$(identify -format '%k' "$file")
  if [ "$colours" -le 1 ]; then
    echo "blank: $file"
    missing=1
  fi
done
exit "$missing"
