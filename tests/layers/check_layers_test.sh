#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The layer check passes on the tree and fails on a copy of it broken on purpose: an upward
# include, a widget header in subsystem logic, a GUI header in the platform layer.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
check=$root/scripts/check-layers.sh
"$check" "$root/src" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
expect_failure() {
  local what=$1 file=$2 line=$3 expected=$4
  rm -rf "$scratch/src"
  cp -r "$root/src" "$scratch/src"
  printf '%s\n' "$line" >>"$scratch/src/$file"
  if output=$("$check" "$scratch/src" 2>&1); then
    echo "FAIL: $what was not caught" >&2
    exit 1
  fi
  if [[ $output != *"$expected"* ]]; then
    echo "FAIL: $what was caught without naming it: $output" >&2
    exit 1
  fi
  echo "ok: $what"
}
expect_failure "engine including app" engine/TestCycle.h '#include "app/Program.h"' \
  "engine/TestCycle.h:"
expect_failure "a relative include reaching into app" engine/RunControl.cpp \
  '#include "../app/Program.h"' "engine/RunControl.cpp:"
expect_failure "core including platform" core/Verdict.cpp '#include "platform/Clock.h"' \
  "core/Verdict.cpp:"
expect_failure "core including Qt" core/Exchange.h '#include <QString>' "core/Exchange.h:"
expect_failure "a widget header in the port service" serial/PortService.cpp '#include <QWidget>' \
  "serial/PortService.cpp:"
expect_failure "a widget header in quotes" engine/RunDisplay.cpp '#include "QtWidgets/QLabel"' \
  "engine/RunDisplay.cpp:"
expect_failure "a GUI header in the platform layer" platform/Tasks.h '#include <QtGui/QFont>' \
  "platform/Tasks.h:"
expect_failure "logic including a window of its own folder" serial/PortService.h \
  '#include "serial/SetPortDlg.h"' "serial/PortService.h:"
expect_failure "a window including the main window" analysis/ClipDlg.h '#include "app/TarvelDlg.h"' \
  "analysis/ClipDlg.h:"
expect_failure "a window outside the window folders" core/PanelDlg.h '#include <QWidget>' \
  "core/PanelDlg.h"
expect_failure "logic including a window-side helper" monitor/LineMonitor.cpp \
  '#include "monitor/MonitorCharts.h"' "monitor/LineMonitor.cpp:"
expect_failure "a widget header in a file named like a helper elsewhere" line/MonitorCharts.cpp \
  '#include <QWidget>' "line/MonitorCharts.cpp:"
