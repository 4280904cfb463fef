#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the pictures of the Line Monitor window on the built-in simulated line, under a real X
# server (Xvfb), driven as an operator would with xdotool: the intro and the port dialog
# confirmed with Return, "&Search!" over the whole line, "&Monitor" once the scan is over (the
# picture after a scan), then a line of five controllers (A to E) loaded from a .cfg file and
# Start (the picture after a run, docs/monitor.png unless told otherwise). Installs Xvfb, xdotool
# and ImageMagick when they are missing.
#
#   scripts/monitor-screenshot.sh [seconds of run before the picture, 45 unless given]
#
# MONITOR_PICTURES=folder   where monitor.png and monitor-scan.png go (docs, and the scan's
#                           picture not at all, unless given)
# SCAN_SECONDS=n            how long the scan is given (150 unless given)
# BUILD_DIR=dir             the build to take the program from, as it is (built afresh in build/
#                           unless given)
# SCREEN=WxH                the X server's screen (1600x1000 unless given)
set -euo pipefail
cd "$(dirname "$0")/.."
run_seconds="${1:-45}"
scan_seconds="${SCAN_SECONDS:-150}"
screen="${SCREEN:-1600x1000}"

scripts/setup.sh xvfb xdotool imagemagick
if [ -z "${BUILD_DIR:-}" ]; then
  BUILD_DIR=build
  scripts/build.sh build >/dev/null
fi
program="$BUILD_DIR/src/app/line-tarvel"
run_picture=docs/monitor.png
scan_picture=
if [ -n "${MONITOR_PICTURES:-}" ]; then
  mkdir -p "$MONITOR_PICTURES"
  run_picture="$MONITOR_PICTURES/monitor.png"
  scan_picture="$MONITOR_PICTURES/monitor-scan.png"
fi

work="$(mktemp -d)"
display=":$((90 + RANDOM % 100))"
cleanup() {
  kill "${program_pid:-}" "${xvfb_pid:-}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 "${screen}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
x_up=false
for _ in $(seq 100); do
  if xdotool getmouselocation >/dev/null 2>&1; then x_up=true && break; fi
  sleep 0.1
done
if ! $x_up; then
  echo "the X server on $display did not come up:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

# Controllers A to E: the simulated line has A, B, D and E; C stays silent, D is noisy.
printf ' 5 \r\n 0 \r\n 1 \r\n 2 \r\n 3 \r\n 4 \r\n' >"$work/line.cfg"

"$program" --simulate >"$work/program.log" 2>&1 &
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
# Takes window $1 as a picture in $2, raised above the others first: without a window manager
# nothing else would bring it to the top.
picture() {
  xdotool windowraise "$1"
  sleep 1.5
  import -window "$1" "$2"
  echo "$2: $(identify -format '%wx%h' "$2")"
}

# Assigned first: a failure inside "$(...)" as an argument would not end the script.
intro="$(window "Line Tarvel")"
xdotool windowfocus --sync "$intro" key Return
port_dialog="$(window "Configuration Port")"
xdotool windowfocus --sync "$port_dialog" key Return
main="$(window "Tarvel at work")"
sleep 0.5

click "$main" 60 8  # &Search!
echo "scanning the simulated line for ${scan_seconds} s..."
sleep "$scan_seconds"
click "$main" 164 8  # &Monitor
monitor="$(window "Line Monitor")"
[ -n "$scan_picture" ] && picture "$monitor" "$scan_picture"

# File, Load Line Conf., the file's name, Return.
xdotool windowraise "$main"
sleep 0.5
click "$main" 19 8
click "$main" 80 72
load_dialog="$(window "Load Configuration")"
xdotool windowfocus --sync "$load_dialog"
xdotool type --delay 10 "$work/line.cfg"
xdotool key Return
sleep 0.5

click "$main" 40 126  # Start
echo "running for ${run_seconds} s on the simulated line..."
sleep "$run_seconds"
mkdir -p "$(dirname "$run_picture")"
picture "$monitor" "$run_picture"
