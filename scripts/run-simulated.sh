#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and starts Line Tarvel with COM1 on its built-in simulated line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build >/dev/null
exec build/src/app/line-tarvel --simulate "$@"
