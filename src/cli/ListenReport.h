// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>

#include "monitor/ListenedLine.h"
#include "protocol/FrameDecoder.h"

namespace tarvel {

// The line as listening saw it: frames a second, the share of time it was busy, noise, and the
// master's poll cycle of each controller. The wrong-speed warning and the text of these figures
// are the Line Monitor's too: monitor/ListenedLine.h.
QJsonObject ListenedLineJson(const FrameDecoder& splitter, Duration listened);
QJsonObject PollCycleJson(const PollCycle& polls);

}  // namespace tarvel
