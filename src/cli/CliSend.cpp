// SPDX-License-Identifier: GPL-3.0-or-later
// `send`: one hand-typed request and its answer, as the terminal window sends it.
#include <QString>
#include <ostream>

#include "cli/CliSession.h"
#include "core/HexText.h"
#include "core/Verdict.h"
#include "serial/ReceiveAnswer.h"
#include "serial/Terminal.h"

namespace tarvel {

QCoro::Task<int> CliSession::Send() {
    // The command line comes as UTF-8; the line takes one byte a character, as the terminal
    // window does.
    std::string frames[2];
    const std::string typed[2] = {options_.frame, options_.value.value_or("")};
    // Bytes given in hexadecimal go as they are.
    for (int i = options_.hexFrame ? 2 : 0; i < 2; ++i) {
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
    if (options_.hexFrame) {
        frames[0] = *options_.hexFrame;
    }
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    const Protocol& protocol = port_.LineProtocol();
    if (protocol.ChecksFrames()) {
        // The frame as it went on the wire, its CRC added.
        host_.out << "sent: " << HexText(protocol.TerminalFrame(frames[0])) << "\n";
    }
    if (protocol.ChecksFrames() && !frames[0].empty() && frames[0][0] == 0) {
        // A broadcast: every controller takes it and none answers.
        co_await SendTerminalFrames(port_, primo_, frames[0], {});
        host_.out << "broadcast: no answer is given to address 0\n";
        co_return port_.Line().PortOpen() ? kAllWell : kPortOrFileFailed;
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
          ExchangeVerdict::NotDetected, ExchangeVerdict::UnknownFormat, ExchangeVerdict::BadCrc,
          ExchangeVerdict::WrongLength, ExchangeVerdict::WrongSource, ExchangeVerdict::Cut}) {
        failed = failed || answer == VerdictMessage(verdict);
    }
    co_return failed ? kLineFailures : kAllWell;
}

}  // namespace tarvel
