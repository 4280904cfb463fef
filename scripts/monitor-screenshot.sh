#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes docs/monitor.png: the Line Monitor window during a test run on the built-in simulated
# line, under a real X server (Xvfb), driven as an operator would with xdotool: the intro and the
# port dialog confirmed with Return, a line of five controllers (A to E) loaded from a .cfg file,
# Start, then "&Monitor". Installs Xvfb, xdotool and ImageMagick when they are missing.
#
#   scripts/monitor-screenshot.sh [seconds of run before the picture, 45 unless given]
set -euo pipefail
cd "$(dirname "$0")/.."
run_seconds="${1:-45}"

scripts/setup.sh xvfb xdotool imagemagick
scripts/build.sh build >/dev/null

work="$(mktemp -d)"
display=":$((90 + RANDOM % 100))"
cleanup() {
  kill "${program_pid:-}" "${xvfb_pid:-}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

# Controllers A to E: the simulated line has A, B, D and E; C stays silent, D is noisy.
printf ' 5 \r\n 0 \r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n' >"$work/line.cfg"

build/src/app/line-tarvel --simulate >"$work/program.log" 2>&1 &
program_pid=$!

# Waits for a window titled exactly $1 and prints its id.
window() {
  for _ in $(seq 100); do
    if id="$(xdotool search --name "^$1\$" 2>/dev/null | head -1)" && [ -n "$id" ]; then
      echo "$id"
      return
    fi
    sleep 0.1
  done
  echo "no window \"$1\" appeared; the program said:" >&2
  cat "$work/program.log" >&2
  exit 1
}
# Clicks at $2,$3 inside window $1 (no window manager: positions are the windows' own).
click() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.5
}

xdotool windowfocus --sync "$(window "Line Tarvel")" key Return
xdotool windowfocus --sync "$(window "Configuration Port")" key Return
main="$(window "Tarvel at work")"
sleep 0.5

# File, Load Line Conf., the file's name, Return.
click "$main" 19 8
click "$main" 80 72
xdotool windowfocus --sync "$(window "Load Configuration")"
xdotool type --delay 10 "$work/line.cfg"
xdotool key Return
sleep 0.5

click "$main" 40 126  # Start
click "$main" 164 8   # &Monitor
monitor="$(window "Line Monitor")"
echo "running for ${run_seconds} s on the simulated line..."
sleep "$run_seconds"

mkdir -p docs
import -window "$monitor" docs/monitor.png
echo "docs/monitor.png: $(identify -format '%wx%h' docs/monitor.png)"
