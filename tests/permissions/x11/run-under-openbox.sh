#!/bin/sh
# Runs a test program on a virtual X server managed by openbox. Exits 77
# (skipped) where Xvfb or openbox is not installed.
if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null || ! command -v openbox >/dev/null; then
  echo "Xvfb or openbox not installed: skipped"
  exit 77
fi
# Qt's keyboard set-up on X11 (libxkbcommon-x11) hands strndup a buffer
# without a terminator; strict string checks take that for an overflow.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
export ASAN_OPTIONS
# The program starts once openbox manages the screen (its startup command
# writes to a pipe): a window manager that arrives mid-test takes the focus
# from the window the test drives. At most a minute, should it never come.
exec xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  ready=$(mktemp -u) && mkfifo "$ready" && exec 3<>"$ready"
  openbox --startup "sh -c \"echo >$ready\"" >/dev/null 2>&1 &
  manager=$!
  timeout 60 head -c 1 <&3 >/dev/null
  exec 3<&-
  rm -f "$ready"
  QT_QPA_PLATFORM=xcb "$@"
  status=$?
  kill $manager
  exit $status' run "$@"
