#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails, naming file and line, when a file under src/ breaks the layers:
#  - it includes a folder above its own layer (or reaches out with "..");
#  - it is not a window (...Dlg.* in serial/, line/, analysis/, monitor/, or one of the window-side
#    helpers below), nor in ui/ or app/, and includes a header of Qt's widget and GUI modules, or
#    a window's header;
#  - it is in core/ or protocol/ and includes anything of Qt or QCoro.
# Usage: scripts/check-layers.sh [SOURCE_DIR] (default: src of this tree).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
src=${1:-$root/src}

# Which folders each folder may include from; every folder may include its own.
declare -A may_use=(
  [core]=""
  [protocol]="core"
  [platform]="core"
  [lines]="core platform"
  [sim]="core protocol platform lines"
  [serial]="core protocol platform lines"
  [engine]="core protocol platform lines serial"
  [line]="core protocol platform lines serial engine"
  [analysis]="core protocol platform lines serial engine line"
  [monitor]="core protocol platform lines serial engine line"
  [watch]="core protocol platform lines serial engine line monitor"
  [cli]="core protocol platform lines sim serial engine line analysis monitor watch"
  [ui]="core platform"
  [app]="core protocol platform lines sim serial engine line analysis monitor ui"
)
# The folders that hold windows, and what a window may use besides its folder's layers.
window_folders=" serial line analysis monitor "
window_extra="ui serial engine line analysis monitor"
# Parts of a window kept in files of their own, which are window-side as the window is: each
# named here by its path under src/ without the extension.
window_helpers=" monitor/MonitorCharts monitor/MonitorTableLooks "

# A window's file, or a window-side helper's, named by its path under src/.
is_window_file() {
  local path=$1
  [[ ${path##*/} == *Dlg.* ]] || [[ $window_helpers == *" ${path%.*} "* ]]
}

# Qt's modules whose headers belong to windows only.
qt_include=$(qtpaths6 --query QT_INSTALL_HEADERS 2>/dev/null || true)
if [ -z "$qt_include" ] || [ ! -d "$qt_include" ]; then
  qt_include=$(find /usr/include /usr/local/include /opt -maxdepth 4 -type d -name QtWidgets \
    -printf '%h\n' -quit 2>/dev/null || true)
fi
declare -A gui_header=()
gui_modules=()
for module_dir in "$qt_include"/Qt*; do
  module=${module_dir##*/}
  case "$module" in
    QtGui | *Widgets | QtCharts | QtPrintSupport | QtQuick* | QtQml* | QtSvg | QtOpenGL)
      gui_modules+=("$module")
      while IFS= read -r name; do gui_header[$name]=1; done < <(ls "$module_dir")
      ;;
  esac
done
if [ -z "${gui_header[QWidget]+set}" ]; then
  echo "check-layers: cannot find the Qt 6 Widgets headers (is qt6-base-dev installed?)" >&2
  exit 2
fi

is_gui_header() {
  local header=$1 module
  for module in "${gui_modules[@]}"; do
    [[ $header == "$module"/* || $header == "$module" ]] && return 0
  done
  [ -n "${gui_header[$header]+set}" ]
}

include_pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*(["<])([^">]+)[">]'
failures=0
complain() {
  echo "$1" >&2
  failures=$((failures + 1))
}

# First each file's place: its folder's layers, and whether it is a window.
declare -A allowed_of=() gui_allowed_of=()
files=()
while IFS= read -r file; do
  relative=${file#"$src"/}
  folder=${relative%%/*}
  [ "$folder" = "$relative" ] && continue  # files at the top of src/
  if [ -z "${may_use[$folder]+set}" ]; then
    complain "$relative: the folder $folder/ has no place among the layers (scripts/check-layers.sh)"
    continue
  fi
  allowed="$folder ${may_use[$folder]}"
  window=false
  if is_window_file "$relative"; then
    if [[ $window_folders == *" $folder "* ]]; then
      window=true
      allowed="$allowed $window_extra"
    elif [ "$folder" != app ]; then
      complain "$relative: windows belong in serial/, line/, analysis/, monitor/ or app/"
    fi
  fi
  gui_allowed=false
  if $window || [ "$folder" = ui ] || [ "$folder" = app ]; then
    gui_allowed=true
  fi
  allowed_of[$relative]=$allowed
  gui_allowed_of[$relative]=$gui_allowed
  files+=("$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.hh' -o -name '*.inl' \
  -o -name '*.cpp' -o -name '*.cc' \) | sort)

# Then every include line, found by one grep over all the files rather than read line by line.
while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line_number=${rest%%:*}
  line=${rest#*:}
  relative=${file#"$src"/}
  folder=${relative%%/*}
  allowed=${allowed_of[$relative]}
  gui_allowed=${gui_allowed_of[$relative]}
  [[ $line =~ $include_pattern ]] || continue
  header=${BASH_REMATCH[2]}
  where="$relative:$line_number: includes $header"
  if [[ $header == *..* ]]; then
    complain "$where; include from the top of src/, not with \"..\""
    continue
  fi
  if [[ $folder == core || $folder == protocol ]] &&
    [[ $header == Q* || $header == qcoro* || $header == QCoro* ]]; then
    complain "$where, but $folder/ is plain C++"
    continue
  fi
  if ! $gui_allowed && is_gui_header "$header"; then
    complain "$where; widget and GUI headers belong in the windows (...Dlg), ui/ and app/"
    continue
  fi
  used=${header%%/*}
  [ "$used" = "$header" ] && continue
  if [ -n "${may_use[$used]+set}" ]; then
    if [[ " $allowed " != *" $used "* ]]; then
      complain "$where, but $folder/ may use only: $allowed"
    elif ! $gui_allowed && is_window_file "$header"; then
      complain "$where: only windows, ui/ and app/ may include a window"
    fi
  fi
done < <([ ${#files[@]} -eq 0 ] || grep -HnE '^[[:space:]]*#[[:space:]]*include' "${files[@]}")

if [ $failures -ne 0 ]; then
  echo "check-layers: $failures include(s) break the layers" >&2
  exit 1
fi
echo "Layers: every include under $(basename "$src")/ keeps to its layer."
