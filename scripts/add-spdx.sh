#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Adds the licence's SPDX line to every source file that lacks it: as the first line of each
# .cpp and .h under src/, tests/ and bench/ and of each CMakeLists.txt, after the "#!" line of
# each shell script. Running it again changes nothing; scripts/check-licence.sh checks.
set -euo pipefail
exec "$(dirname "$0")/check-licence.sh" --fix
