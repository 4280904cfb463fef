#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails, naming the files, when a C++ file of the tree is not formatted as .clang-format says.
# "--fix" formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
unformatted=()
for file in "${files[@]}"; do
  clang-format --style=file "$file" | cmp -s - "$file" || unformatted+=("$file")
done
if [ ${#unformatted[@]} -ne 0 ]; then
  echo "Not formatted (run scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "Formatting: all ${#files[@]} C++ files are formatted."
