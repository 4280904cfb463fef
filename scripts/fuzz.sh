#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a file reader's fuzz target for SECONDS (default 60): "config" (the line configuration,
# the default), "list" (error lists and analyses) or "json" (the JSON of simulated lines). New
# inputs it finds go to build/tests/fuzz-corpus/NAME, crashes to build/tests/.
# Usage: scripts/fuzz.sh [SECONDS] [config|list|json]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
case "${2:-config}" in
  config) name=config_reader seeds=corpus ;;
  list) name=list_reader seeds=list-corpus ;;
  json) name=json_reader seeds=json-corpus ;;
  *) echo "usage: $0 [SECONDS] [config|list|json]" >&2; exit 2 ;;
esac
scripts/setup.sh
scripts/build.sh build >/dev/null
mkdir -p "build/tests/fuzz-corpus/$name"
cd build/tests
exec "./${name}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 "fuzz-corpus/$name" \
  "../../tests/core/fuzz/$seeds"
