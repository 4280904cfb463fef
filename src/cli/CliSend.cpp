// SPDX-License-Identifier: GPL-3.0-or-later
// `send`: one hand-typed request and its answer, as the terminal window sends it.
#include <QString>
#include <ostream>

#include "cli/CliSession.h"
#include "core/Verdict.h"
#include "serial/ReceiveAnswer.h"
#include "serial/Terminal.h"

namespace tarvel {

QCoro::Task<int> CliSession::Send() {
    // The command line comes as UTF-8; the line takes one byte a character, as the terminal
    // window does.
    std::string frames[2];
    const std::string typed[2] = {options_.frame, options_.value.value_or("")};
    for (int i = 0; i < 2; ++i) {
        const QString text =
            QString::fromUtf8(typed[i].data(), static_cast<qsizetype>(typed[i].size()));
        for (const QChar c : text) {
            if (c.unicode() > 0xFF) {
                host_.err << "line-tarvel-cli: the frame holds a character without an 8-bit code; "
                             "nothing was sent\n";
                co_return kUsageError;
            }
        }
        frames[i] = text.toLatin1().toStdString();
    }
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    const std::string answer = co_await SendTerminalFrames(port_, primo_, frames[0], frames[1]);
    NoteEcho();
    host_.out
        << QString::fromLatin1(answer.data(), static_cast<qsizetype>(answer.size())).toStdString()
        << "\n";
    if (!port_.Line().PortOpen()) {
        host_.err << "line-tarvel-cli: the serial line failed: " << port_.Line().LastError()
                  << "\n";
        co_return kPortOrFileFailed;
    }
    bool failed = false;
    for (const ExchangeVerdict verdict :
         {ExchangeVerdict::NoAnswer, ExchangeVerdict::WrongCount, ExchangeVerdict::NoCr,
          ExchangeVerdict::NotDetected, ExchangeVerdict::UnknownFormat}) {
        failed = failed || answer == VerdictMessage(verdict);
    }
    co_return failed ? kLineFailures : kAllWell;
}

}  // namespace tarvel
