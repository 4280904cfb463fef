// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ListenReport.h"

#include <cstdio>

#include "cli/CliReport.h"

namespace tarvel {
namespace {

double Share(Duration part, Duration whole) {
    return whole > Duration{0} ? 100.0 * std::chrono::duration<double>(part).count() /
                                     std::chrono::duration<double>(whole).count()
                               : 0.0;
}

double Ms(Duration time) { return std::chrono::duration<double, std::milli>(time).count(); }

}  // namespace

std::optional<std::string> WrongSpeedWarning(const FrameSplitter& splitter,
                                             const std::optional<UartErrorCounts>& driverErrors,
                                             const LineDescription& line) {
    bool suspect = driverErrors && driverErrors->framing > 0;
    if (splitter.LastByte()) {
        // Characters kept coming, and none of them since the last request (or ever) made one.
        const Instant since = splitter.LastRequest().value_or(*splitter.FirstByte());
        suspect = suspect ||
                  (*splitter.LastByte() - since >= NoFramesWarning && splitter.NoiseBytes() > 0);
    }
    if (!suspect) {
        return std::nullopt;
    }
    const std::string settings = SettingsSummary(line);
    return "the line does not look like Ascon traffic at " +
           settings.substr(0, settings.find(',')) + ": check the speed and the parity";
}

QJsonObject PollCycleJson(const PollCycle& polls) {
    if (polls.gaps == 0) {
        return QJsonObject{{"meanMs", QJsonValue::Null}, {"longestMs", QJsonValue::Null}};
    }
    return QJsonObject{{"meanMs", Rounded(Ms(polls.MeanGap()), 1)},
                       {"longestMs", Rounded(Ms(polls.longestGap), 1)}};
}

QJsonObject ListenedLineJson(const FrameSplitter& splitter, Duration listened) {
    const double seconds = std::chrono::duration<double>(listened).count();
    return QJsonObject{
        {"frames", static_cast<double>(splitter.Frames())},
        {"requests", static_cast<double>(splitter.Requests())},
        {"framesPerSecond", Rounded(seconds > 0 ? splitter.Frames() / seconds : 0.0, 2)},
        {"busyPercent", Rounded(Share(splitter.Busy(), listened), 1)},
        {"noiseBytes", static_cast<double>(splitter.NoiseBytes())},
    };
}

std::string ListenedLineText(const FrameSplitter& splitter, Duration listened,
                             const LineStatistics& statistics) {
    const double seconds = std::chrono::duration<double>(listened).count();
    char text[200];
    std::snprintf(text, sizeof text, ", %.2f frames/s, line busy %.1f %%, ",
                  seconds > 0 ? splitter.Frames() / seconds : 0.0,
                  Share(splitter.Busy(), listened));
    std::string report = "Heard: " + Counted(splitter.Frames(), "frame") + text +
                         Counted(splitter.NoiseBytes(), "byte") + " of noise\n";
    std::string cycle;
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        const PollCycle& polls = splitter.PollsOf(controller.address);
        if (polls.gaps == 0) {
            continue;
        }
        std::snprintf(text, sizeof text, "%s%c mean %.1f, longest %.1f", cycle.empty() ? "" : "; ",
                      controller.address, Ms(polls.MeanGap()), Ms(polls.longestGap));
        cycle += text;
    }
    if (!cycle.empty()) {
        report += "Poll cycle (ms between two requests to the same address): " + cycle + "\n";
    }
    return report;
}

}  // namespace tarvel
