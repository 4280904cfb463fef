#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails, naming the files, when a source file of the tree does not begin with the licence's SPDX
# line: "// SPDX-License-Identifier: GPL-3.0-or-later" as the first line of each .cpp and .h
# under src/, tests/ and bench/; "# SPDX-License-Identifier: GPL-3.0-or-later" as the first
# line of each CMakeLists.txt and, after the "#!" line, of each shell script (*.sh, .ci/run).
# "--fix" adds the line where it is missing instead (scripts/add-spdx.sh); a second run
# changes nothing. A file that names another licence is left as it is, and fails the check.
set -euo pipefail
cd "$(dirname "$0")/.."

licence=GPL-3.0-or-later
fix=false
[ "${1:-}" = "--fix" ] && fix=true

# Tracked files and new ones not ignored, as they are in the working tree.
files_matching() {
  git ls-files --cached --others --exclude-standard -- "$@" | sort -u |
    while IFS= read -r file; do
      [ -f "$file" ] && printf '%s\n' "$file"
    done
}

# Where the SPDX line goes in FILE: 2 after a "#!" line, otherwise 1.
spdx_line_number() {
  if head -n1 "$1" | grep -q '^#!'; then echo 2; else echo 1; fi
}

missing=()
foreign=()
check() {
  local file=$1 comment=$2
  local wanted="$comment SPDX-License-Identifier: $licence"
  local number
  number=$(spdx_line_number "$file")
  [ "$(sed -n "${number}p" "$file")" = "$wanted" ] && return
  local other
  other=$(head -n 5 "$file" | grep -m1 -E '^(//|#|/\*) *SPDX-License-Identifier:' || true)
  if [ -n "$other" ]; then
    foreign+=("$file: $other")
    return
  fi
  if ! $fix; then
    missing+=("$file")
  elif [ ! -s "$file" ]; then
    printf '%s\n' "$wanted" >"$file"
  elif [ "$number" -eq 2 ]; then
    sed -i "1a $wanted" "$file"
  else
    sed -i "1i $wanted" "$file"
  fi
}

count=0
while IFS= read -r file; do
  check "$file" //
  count=$((count + 1))
done < <(files_matching 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
while IFS= read -r file; do
  check "$file" '#'
  count=$((count + 1))
done < <(files_matching 'CMakeLists.txt' '*/CMakeLists.txt' '*.sh' .ci/run)

if [ ${#foreign[@]} -ne 0 ]; then
  echo "These files name another licence; give each its own line in packaging/copyright:" >&2
  printf '  %s\n' "${foreign[@]}" >&2
fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "No \"SPDX-License-Identifier: $licence\" line (run scripts/add-spdx.sh):" >&2
  printf '  %s\n' "${missing[@]}" >&2
fi
if [ ${#missing[@]} -ne 0 ] || [ ${#foreign[@]} -ne 0 ]; then
  exit 1
fi
if $fix; then
  echo "Licence: all $count source files begin with the SPDX line."
else
  echo "Licence: all $count source files carry the SPDX line."
fi
