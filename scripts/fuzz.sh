#!/usr/bin/env bash
# Runs the configuration reader's fuzz target for SECONDS (default 60); new inputs it finds go
# to build/tests/fuzz-corpus, crashes to build/tests/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build >/dev/null
mkdir -p build/tests/fuzz-corpus
cd build/tests
exec ./config_reader_fuzzer -max_total_time="${1:-60}" -print_final_stats=1 fuzz-corpus \
  ../../tests/core/fuzz/corpus
