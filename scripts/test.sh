#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, checks the layers, the formatting and the licence lines, builds and runs every test:
# once in an ordinary build, once with the address and undefined-behaviour sanitizers, then
# builds, installs and checks the Debian package (scripts/package-test.sh). "--quick" skips the
# sanitizer build and the package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/check-layers.sh
scripts/check-format.sh
scripts/check-licence.sh

export QT_QPA_PLATFORM=offscreen
# Setup installed every tool the tests use: a test that finds one missing fails here.
export TARVEL_REQUIRE_TOOLS=1
scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)"

if [ "${1:-}" != "--quick" ]; then
  scripts/build.sh build-sanitize -DCMAKE_BUILD_TYPE=Debug "-DTARVEL_SANITIZERS=address;undefined"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
  scripts/package-test.sh
fi
