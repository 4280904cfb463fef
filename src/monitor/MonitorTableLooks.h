// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QVariant>

#include "monitor/LineStatistics.h"

class QTableView;
class QWidget;

namespace tarvel {

// How the Line Monitor's tables look. The models ask for these colours by role; the window
// hands them over, so that the models stay free of the GUI.
QVariant JudgementLook(Judgement judgement, int role);
QVariant FailedAnswerLook(int role);

// A table of the window: read only, whole rows chosen, one line of one font a row, each cell
// painted as plain text on its colours.
QTableView* MonitorTable(QWidget* parent, const char* name);

}  // namespace tarvel
