// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/ListenedLine.h"

#include <algorithm>
#include <cstdio>

namespace tarvel {
namespace {

double Ms(Duration time) { return std::chrono::duration<double, std::milli>(time).count(); }

std::string Counted(std::int64_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

double SharePercent(Duration part, Duration whole) {
    return whole > Duration{0} ? 100.0 * std::chrono::duration<double>(part).count() /
                                     std::chrono::duration<double>(whole).count()
                               : 0.0;
}

double BusyPercent(const FrameDecoder& splitter, Duration listened) {
    // A port that delivers more than the wire can carry (the wrong port, the wrong speed) would
    // make the wire busier than all the time there was: it was busy all the time, no more.
    return std::min(100.0, SharePercent(splitter.Busy(), listened));
}

namespace {

// A stray byte or two is noise on any line; a line at the wrong speed makes a stream of them.
constexpr std::int64_t kNoiseOfAWrongSpeed = 16;

}  // namespace

std::optional<std::string> WrongSpeedWarning(const FrameDecoder& splitter,
                                             const std::optional<UartErrorCounts>& driverErrors,
                                             const LineDescription& line) {
    // Characters kept coming, and none of them since the last request (or ever) made one; the
    // driver's framing errors only count where nothing decodes, for a noisy drop has them too.
    bool suspect = false;
    if (splitter.LastByte()) {
        const Instant since = splitter.LastRequest().value_or(*splitter.FirstByte());
        const bool noRequestOfLate = *splitter.LastByte() - since >= NoFramesWarning;
        suspect = noRequestOfLate && (splitter.NoiseSinceRequest() >= kNoiseOfAWrongSpeed ||
                                      (driverErrors && driverErrors->framing > 0));
    }
    if (!suspect) {
        return std::nullopt;
    }
    return "the line does not look like " + std::string(splitter.ProtocolName()) + " traffic at " +
           FramingSummary(line) + ": check the speed and the parity";
}

std::string ListenedLineText(const FrameDecoder& splitter, Duration listened,
                             const LineStatistics& statistics) {
    const double seconds = std::chrono::duration<double>(listened).count();
    char text[200];
    std::snprintf(text, sizeof text, ", %.2f frames/s, line busy %.1f %%, ",
                  seconds > 0 ? static_cast<double>(splitter.Frames()) / seconds : 0.0,
                  BusyPercent(splitter, listened));
    std::string report = "Heard: " + Counted(splitter.Frames(), "frame") + text +
                         Counted(splitter.NoiseBytes(), "byte") + " of noise";
    for (const FrameDecoder::LineCount& own : splitter.OwnCounts()) {
        report += own.unmeasured.empty() ? ", " + std::to_string(own.count) + " " + own.words
                                         : ", " + own.words + ": " + own.unmeasured;
    }
    report += "\n";
    std::string cycle;
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        const PollCycle& polls = splitter.PollsOf(controller.station);
        if (polls.gaps == 0) {
            continue;
        }
        std::snprintf(text, sizeof text, "%s%s mean %.1f, longest %.1f", cycle.empty() ? "" : "; ",
                      controller.address.c_str(), Ms(polls.MeanGap()), Ms(polls.longestGap));
        cycle += text;
    }
    if (!cycle.empty()) {
        report += "Poll cycle (ms between two requests to the same address): " + cycle + "\n";
    }
    return report;
}

}  // namespace tarvel
