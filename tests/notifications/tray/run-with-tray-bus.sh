#!/bin/sh
# Runs a test program on a virtual X server and a session bus of its own, so
# that Qt's xcb platform can use the D-Bus tray. Exits 77 (skipped) where
# Xvfb or dbus-run-session is missing.
if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null || ! command -v dbus-run-session >/dev/null; then
  echo "Xvfb or dbus-run-session not installed: skipped"
  exit 77
fi
# Qt's keyboard set-up on X11 (libxkbcommon-x11) hands strndup a buffer
# without a terminator; strict string checks take that for an overflow.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
export ASAN_OPTIONS
# No desktop's own theme: the generic one decides on the tray.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION
QT_QPA_PLATFORM=xcb exec dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24" "$@"
