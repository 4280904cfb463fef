#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a fuzz target for SECONDS (default 60): "config" (the line configuration, the default),
# "list" (error lists and analyses), "json" (the JSON of simulated lines), "frames" (Ascon's
# frame splitter), "ascii" (Modbus ASCII frames), "modbus" (the Modbus decoders) or "input"
# (what a line keeps of its input). New inputs it finds go to build/tests/fuzz-corpus/NAME,
# crashes to build/tests/.
# Usage: scripts/fuzz.sh [SECONDS] [config|list|json|frames|ascii|modbus|input]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
case "${2:-config}" in
  config) name=config_reader seeds=core/fuzz/corpus ;;
  list) name=list_reader seeds=core/fuzz/list-corpus ;;
  json) name=json_reader seeds=core/fuzz/json-corpus ;;
  frames) name=frame_splitter seeds=protocol/fuzz/frame-corpus ;;
  ascii) name=ascii_frame seeds=protocol/fuzz/ascii-corpus ;;
  modbus) name=modbus_decoders seeds=protocol/fuzz/modbus-decoder-corpus ;;
  input) name=line_input seeds=lines/fuzz/input-corpus ;;
  *) echo "usage: $0 [SECONDS] [config|list|json|frames|ascii|modbus|input]" >&2; exit 2 ;;
esac
scripts/setup.sh
scripts/build.sh build >/dev/null
mkdir -p "build/tests/fuzz-corpus/$name"
cd build/tests
exec "./${name}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 "fuzz-corpus/$name" \
  "../../tests/$seeds"
