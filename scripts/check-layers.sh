#!/usr/bin/env bash
# Fails, naming file and line, when a file under src/ includes a layer above its own, or when a
# file outside the windows (...Dlg.*), ui/ and app/ includes a Qt Widgets or Qt Gui header.
# Usage: scripts/check-layers.sh [SOURCE_DIR] (default: src of this tree).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
src=${1:-$root/src}

# Which folders each folder may include from; every folder may include its own.
declare -A may_use=(
  [core]=""
  [platform]="core"
  [sim]="core platform"
  [serial]="core platform"
  [engine]="core platform serial"
  [line]="core platform serial engine"
  [analysis]="core platform serial engine line"
  [cli]="core platform sim serial engine line analysis"
  [ui]="core platform"
  [app]="core platform sim serial engine line analysis ui"
)
# Windows may also use the widget glue and the logic of the other subsystems.
window_extra="ui serial engine line analysis"

qt_headers=$(find /usr/include -maxdepth 3 -type d -path '*qt6' -print -quit 2>/dev/null || true)
declare -A gui_header=()
for module in QtWidgets QtGui; do
  if [ -n "$qt_headers" ] && [ -d "$qt_headers/$module" ]; then
    while IFS= read -r name; do gui_header[$name]=1; done < <(ls "$qt_headers/$module")
  fi
done
if [ ${#gui_header[@]} -eq 0 ]; then
  echo "check-layers: cannot find the Qt 6 Widgets and Gui headers" >&2
  exit 2
fi

include_pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*(["<])([^">]+)[">]'
failures=0
complain() {
  echo "$1" >&2
  failures=$((failures + 1))
}

while IFS= read -r file; do
  relative=${file#"$src"/}
  folder=${relative%%/*}
  [ "$folder" = "$relative" ] && continue  # files at the top of src/
  if [ -z "${may_use[$folder]+set}" ]; then
    complain "$relative: the folder $folder/ has no place among the layers (scripts/check-layers.sh)"
    continue
  fi
  allowed="$folder ${may_use[$folder]}"
  name=$(basename "$relative")
  window=false
  case "$name" in *Dlg.h | *Dlg.cpp) window=true; allowed="$allowed $window_extra" ;; esac

  line_number=0
  while IFS= read -r line; do
    line_number=$((line_number + 1))
    [[ $line =~ $include_pattern ]] || continue
    header=${BASH_REMATCH[2]}
    if [ "${BASH_REMATCH[1]}" = '"' ]; then
      used=${header%%/*}
      [ "$used" = "$header" ] && continue
      if [ -n "${may_use[$used]+set}" ] && [[ " $allowed " != *" $used "* ]]; then
        complain "$relative:$line_number: includes $header, but $folder/ may use only: $allowed"
      fi
    else
      base=${header#QtWidgets/}
      base=${base#QtGui/}
      if [ "$folder" != ui ] && [ "$folder" != app ] && ! $window &&
        { [ -n "${gui_header[$base]+set}" ] || [ "$base" != "$header" ]; }; then
        complain "$relative:$line_number: includes <$header>; widget and GUI headers belong in the windows (...Dlg), ui/ and app/"
      fi
    fi
  done <"$file"
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

if [ $failures -ne 0 ]; then
  echo "check-layers: $failures include(s) break the layers" >&2
  exit 1
fi
echo "Layers: every include under $(basename "$src")/ keeps to its layer."
