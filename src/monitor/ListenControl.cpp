// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/ListenControl.h"

#include "lines/LineSettings.h"
#include "monitor/ListenedLine.h"

namespace tarvel {

ListenControl::ListenControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts,
                             LineMonitor& monitor)
    : primo_(primo),
      port_(port),
      lineUse_(lineUse),
      prompts_(prompts),
      monitor_(monitor),
      tasks_(port.Time(), [this](const std::string& what) {
          ended_ = port_.Time().Now();
          prompts_.ShowMessage({"Listening has stopped on an internal error:\n" + what,
                                "Line Monitor", MessageIcon::Critical, MessageButtons::Ok,
                                std::string()});
      }) {}

void ListenControl::ListenBtn_Click() {
    if (Listening()) {
        return;
    }
    if (primo_.PortAccepted != kTrue || !port_.Line().PortOpen()) {
        prompts_.ShowMessage({"The serial port is closed, so the line cannot be listened to.\n"
                              "Open it with \"Comm\" first.",
                              "Line Monitor", MessageIcon::Exclamation, MessageButtons::Ok,
                              port_.Line().LastError()});
        return;
    }
    // A run, a scan or the terminal sends on the line: listening beside it would judge the
    // program's own exchanges. Its end is the operator's to choose, so nothing waits for it.
    if (lineUse_.Busy()) {
        prompts_.ShowMessage({"The line is in use by a test run, a scan or the terminal.\nStop "
                              "it first, then listen.",
                              "Line Monitor", MessageIcon::Exclamation, MessageButtons::Ok,
                              std::string()});
        return;
    }
    const Protocol* chosen = ProtocolAt(primo_.ProtocolIndex);
    if (chosen == nullptr) {
        prompts_.ShowMessage({"Listening knows " + ProtocolNamesText() +
                                  " only.\nChoose one of them with \"Comm\" first.",
                              "Line Monitor", MessageIcon::Exclamation, MessageButtons::Ok,
                              std::string()});
        return;
    }
    const Protocol& protocol = *chosen;
    const auto settings = ParseSettingsText(SettingsText(primo_));
    listener_.reset();
    listener_.emplace(ReadOnlyLine(port_.Line()), port_.Time(),
                      DecoderSettings{settings ? CharacterTime(*settings) : Duration{0},
                                      protocol.Timings(ExchangeKind::Test, Duration{0}).window, 10,
                                      DecoderSettings{}.hostDelayAllowance},
                      protocol);
    listener_->AddSink(monitor_.ListenEvents());
    started_ = port_.Time().Now();
    ended_.reset();
    stopping_ = false;
    tasks_.Start(Listen());
}

QCoro::Task<> ListenControl::Listen() {
    // The line is free: the lease comes at once, before anything else may ask for it.
    LineUse::Lease lease = co_await lineUse_.Acquire();
    lease.MarkHeld(LongHold::Listening);
    const ListenEnd end = co_await listener_->Listen(std::move(lease));
    ended_ = port_.Time().Now();
    if (!end.lineFailure.empty()) {
        prompts_.ShowMessage(
            {"Listening has stopped because the serial line failed:\n" + end.lineFailure +
                 "\n\nWhat was heard is kept. Open the port again with \"Comm\".",
             "Line Monitor", MessageIcon::Critical, MessageButtons::Ok, std::string()});
    }
}

void ListenControl::StopListeningBtn_Click() {
    if (Listening() && listener_) {
        stopping_ = true;
        listener_->Stop();
    }
}

Duration ListenControl::ListenedFor() const {
    if (!listener_) {
        return Duration{0};
    }
    return ended_.value_or(port_.Time().Now()) - started_;
}

std::string ListenControl::SummaryText() const {
    if (!listener_) {
        return std::string();
    }
    const FrameDecoder& splitter = listener_->Decoder();
    std::string text =
        Listening() ? "Listening, nothing is sent. " : "Listened, nothing was sent. ";
    text += ListenedLineText(splitter, ListenedFor(), monitor_.Statistics());
    if (const auto warning =
            WrongSpeedWarning(splitter, monitor_.ErrorsSinceStart(), monitor_.Line())) {
        text += "Warning: " + *warning + "\n";
    }
    if (splitter.Bytes() == 0) {
        text += "Nothing heard on the line: is its master polling, and are the A and B wires the "
                "right way round?\n";
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

}  // namespace tarvel
