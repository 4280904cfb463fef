// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "core/LineDescription.h"
#include "lines/SerialLine.h"
#include "monitor/LineStatistics.h"
#include "protocol/FrameDecoder.h"

namespace tarvel {

// How long the line may carry characters that decode as no request before the listener says it
// does not look like Ascon traffic at the speed and parity given.
inline constexpr Duration NoFramesWarning = std::chrono::seconds(3);

// "the line does not look like Ascon traffic at 9600 8N1: ..." when the characters heard for
// NoFramesWarning decoded as no request, or the driver counted framing errors; nothing else.
std::optional<std::string> WrongSpeedWarning(const FrameDecoder& splitter,
                                             const std::optional<UartErrorCounts>& driverErrors,
                                             const LineDescription& line);

// "Heard: 812 frames, 20.3 frames/s, line busy 41.2 %, 0 bytes of noise" and one line per
// controller: "Poll cycle (ms between two requests to the same address): A mean 250.0, longest
// 260.3; ...".
std::string ListenedLineText(const FrameDecoder& splitter, Duration listened,
                             const LineStatistics& statistics);

// The share of `whole` that `part` takes, in percent; 0 when `whole` is nothing.
double SharePercent(Duration part, Duration whole);
// The share of `listened` the wire was busy with what `splitter` heard, in percent: never more
// than 100, whatever the port delivered.
double BusyPercent(const FrameDecoder& splitter, Duration listened);

}  // namespace tarvel
