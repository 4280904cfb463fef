// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ListenReport.h"

#include "cli/CliReport.h"

namespace tarvel {
namespace {

double Ms(Duration time) { return std::chrono::duration<double, std::milli>(time).count(); }

}  // namespace

QJsonObject PollCycleJson(const PollCycle& polls) {
    if (polls.gaps == 0) {
        return QJsonObject{{"meanMs", QJsonValue::Null}, {"longestMs", QJsonValue::Null}};
    }
    return QJsonObject{{"meanMs", Rounded(Ms(polls.MeanGap()), 1)},
                       {"longestMs", Rounded(Ms(polls.longestGap), 1)}};
}

QJsonObject ListenedLineJson(const FrameDecoder& splitter, Duration listened) {
    const double seconds = std::chrono::duration<double>(listened).count();
    QJsonObject heard{
        {"frames", static_cast<double>(splitter.Frames())},
        {"requests", static_cast<double>(splitter.Requests())},
        {"framesPerSecond", Rounded(seconds > 0 ? splitter.Frames() / seconds : 0.0, 2)},
        {"busyPercent", Rounded(BusyPercent(splitter, listened), 1)},
        {"noiseBytes", static_cast<double>(splitter.NoiseBytes())},
    };
    for (const FrameDecoder::LineCount& own : splitter.OwnCounts()) {
        heard.insert(QString::fromStdString(own.key),
                     own.unmeasured.empty() ? QJsonValue(static_cast<double>(own.count))
                                            : QJsonValue(QJsonValue::Null));
    }
    return heard;
}

}  // namespace tarvel
