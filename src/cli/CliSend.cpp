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
        // The frame as it went on the wire, its check added.
        host_.out << "sent: " << protocol.WireShown(protocol.TerminalFrame(frames[0])) << "\n";
    }
    if (protocol.ChecksFrames() && !frames[0].empty() && frames[0][0] == 0) {
        // A broadcast: every controller takes it and none answers.
        co_await SendTerminalFrames(port_, primo_, frames[0], {});
        host_.out << "broadcast: no answer is given to address 0\n";
        co_return port_.Line().PortOpen() ? kAllWell : kPortOrFileFailed;
    }
    const TerminalAnswer answer =
        co_await SendTerminalExchange(port_, primo_, frames[0], frames[1]);
    NoteEcho();
    host_.out << QString::fromLatin1(answer.shown.data(),
                                     static_cast<qsizetype>(answer.shown.size()))
                     .toStdString()
              << "\n";
    if (protocol.ChecksFrames()) {
        // Bytes are what the operator of such a protocol reads: those that came of a failure,
        // and the word the reports give a good answer.
        if (answer.verdict == ExchangeVerdict::Good) {
            host_.out << "verdict: good\n";
        } else {
            host_.out << "arrived: "
                      << (answer.arrived.empty() ? std::string("nothing")
                                                 : protocol.WireShown(answer.arrived))
                      << "\n";
        }
    }
    if (!port_.Line().PortOpen()) {
        host_.err << "line-tarvel-cli: the serial line failed: " << port_.Line().LastError()
                  << "\n";
        co_return kPortOrFileFailed;
    }
    co_return answer.verdict == ExchangeVerdict::Good ? kAllWell : kLineFailures;
}

}  // namespace tarvel
