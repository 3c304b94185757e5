#!/bin/sh
# Debian 12's own OBS Studio (29, built with Qt 5) with the module installed
# as the README installs it, in the user plugin folder: the module must refuse
# to load with its one line, and OBS must start, run and quit with status 0.
# Runs in the bookworm root under Xvfb (scripts/obs-root qt5-test bookworm).
#
#   refusal.sh <plugin build folder>
set -eu
build="$1"
home="$(mktemp -d /tmp/zorva-qt5-host-XXXXXX)"
log="$home/obs.log"
export XDG_CONFIG_HOME="$home"

fail() {
  echo "FAIL: $*"
  echo "--- OBS log"
  cat "$log"
  exit 1
}

# Waits up to 60 s for a command to succeed, checking five times a second.
wait_for() {
  what="$1"; shift
  tries=300
  until "$@" >/dev/null 2>&1; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "no $what within 60 s"
    kill -0 "$obs" 2>/dev/null || fail "OBS ended before $what"
    sleep 0.2
  done
}

cmake --install "$build" --prefix "$home/obs-studio/plugins" >/dev/null
# As after a first run: no auto-configuration wizard.
printf '[General]\nFirstRun=true\nLastVersion=486539266\n' >"$home/obs-studio/global.ini"

obs --disable-shutdown-check --multi >"$log" 2>&1 &
obs=$!
wait_for "start-up" grep -q "==== Startup complete" "$log"
# OBS names its main window before it maps it, and the focus can only go to
# a mapped window (X answers BadMatch otherwise, and xdotool fails).
wait_for "main window" xdotool search --onlyvisible --name "^OBS 29"

ours="$(grep -c '\[vorn-zorva\]' "$log" || true)"
[ "$ours" = 1 ] || fail "$ours lines of the module, not one"
grep -q "^error: \[vorn-zorva\] Not loading: the module needs OBS Studio 30 or later with its Qt 6 user interface" "$log" ||
  fail "no refusal line"
grep -q "Failed to initialize module 'vorn-zorva.so'" "$log" || fail "libobs did not see the refusal"

# File > Exit, as a user quits. The window found may be gone by the time the
# key goes to it (X answers BadWindow, and xdotool fails): then the window
# OBS shows now is found and asked again.
close_main_window() {
  window="$(xdotool search --onlyvisible --name "^OBS 29" | head -1)" && [ -n "$window" ] &&
    xdotool windowfocus --sync "$window" && xdotool key --window "$window" ctrl+q
}
wait_for "the main window taking ctrl+q" close_main_window
status=0
wait "$obs" || status=$?
[ "$status" = 0 ] || fail "OBS ended with status $status"
grep -q "==== Shutting down" "$log" || fail "OBS did not go through its shutdown"
echo "ok: $(grep '\[vorn-zorva\]' "$log"); OBS quit with status 0"
rm -rf "$home"
