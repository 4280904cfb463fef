#include "engine/RunControl.h"

#include <algorithm>

#include "engine/AsconFrame.h"
#include "platform/Waits.h"
#include "serial/AnswerWait.h"

namespace tarvel {
namespace {

// A transmitter that has not sent a few characters in this long is not going to.
constexpr Duration kOutputStuckAfter = 2s;
// How long an empty sweep (no controller configured) waits before the next.
constexpr Duration kEmptySweepPause = 100ms;

}  // namespace

RunControl::RunControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts,
                       RunPanel panel, const ControllerAddressTable& table, ErrorLists lists)
    : primo_(primo),
      port_(port),
      lineUse_(lineUse),
      prompts_(prompts),
      panel_(panel),
      table_(table),
      lists_(std::move(lists)) {}

void RunControl::StartBtn_Click() {
    switch (primo_.ProtocolIndex) {
        case 0: break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            prompts_.ShowMessage({"Not available Protocol !",
                                  "Info Box",
                                  MessageIcon::Critical,
                                  MessageButtons::RetryCancel,
                                  {}});
            return;
        default: return;
    }
    // A second click while this run starts up, or while it waits for a stopped loop to finish
    // its last exchange, asks for nothing more.
    if (startRequested_ || (lineUse_.Busy() && primo_.StopFlag != kTrue)) {
        return;
    }
    if (!port_.Line().PortOpen()) {
        prompts_.ShowMessage({"The serial port is closed, so no test can run.\nOpen it with "
                              "\"Comm\" first.",
                              "Info Box", MessageIcon::Exclamation, MessageButtons::Ok,
                              port_.Line().LastError()});
        return;
    }
    startRequested_ = true;
    Detach(RunAscon());
}

QCoro::Task<> RunControl::RunAscon() {
    LineUse::Lease lease = co_await lineUse_.Acquire();
    co_await TxAscon();
    lease.Release();
    if (!lineFailure_.empty()) {
        prompts_.ShowMessage(
            {"The test run has stopped because the serial line failed:\n" + lineFailure_ +
                 "\n\nThe error list and the error counter are kept. Open the port again with "
                 "\"Comm\".",
             "Info Box",
             MessageIcon::Critical,
             MessageButtons::Ok,
             {}});
    }
}

QCoro::Task<> RunControl::TxAscon() {
    lineFailure_.clear();
    co_await port_.SettleLine();
    primo_.StopFlag = kFalse;
    SwitchRunSet(true);
    startRequested_ = false;
    running_ = true;
    panel_.ProgressBar.SetMaximum(panel_.MaxNumCmb.Index() + 1);
    panel_.StatusPanel1.SetText("The Tarvel has working !");
    while (primo_.StopFlag != kTrue) {
        co_await Sweep();
    }
    panel_.StatusPanel1.SetText("The Tarvel has finished !");
    running_ = false;
}

QCoro::Task<> RunControl::Sweep() {
    // The end of the sweep is fixed when it starts; the table is read afresh for each position.
    const int end = std::clamp<int>(primo_.DeviceCount, 0, kMaxControllers);
    if (end == 0) {
        co_await Pause(port_.Time(), kEmptySweepPause);
        co_return;
    }
    const int attempts = std::max<int>(primo_.RetryCount, 0) + 1;
    for (int position = 0; position < end; ++position) {
        primo_.AddressText = std::string(1, AddressCharacter(table_[position]));
        for (int attempt = 0; attempt < attempts; ++attempt) {
            const std::optional<ExchangeVerdict> verdict = co_await Attempt(position);
            if (!verdict) {
                co_return;
            }
            if (*verdict == ExchangeVerdict::Good) {
                break;
            }
            Record(*verdict, attempt);
            co_await port_.SettleLine();
            if (primo_.StopFlag == kTrue) {
                break;
            }
        }
        if (primo_.StopFlag == kTrue) {
            co_return;
        }
    }
}

QCoro::Task<bool> RunControl::OutputDrained() {
    Scheduler& time = port_.Time();
    SerialLine& line = port_.Line();
    const Instant start = time.Now();
    co_await Yield(time);
    while (line.OutBufferCount() != 0) {
        if (time.Now() - start > kOutputStuckAfter) {
            FailLine("the serial port has not sent its output for two seconds");
            co_return false;
        }
        // The line tells when its output moves; the deadline only guards against a driver
        // that does not.
        co_await NextActivity(time, line.OutputActivity(), time.Now() + 100ms);
    }
    co_return true;
}

QCoro::Task<std::optional<ExchangeVerdict>> RunControl::Attempt(int position) {
    SerialLine& line = port_.Line();
    if (!co_await OutputDrained()) {
        co_return std::nullopt;
    }
    panel_.ProgressBar.SetValue(position + 1);
    primo_.RequestText = AsconRequest(primo_.AddressText.front());
    co_await Pause(port_.Time(), RequestPause);
    if (!line.PortOpen()) {
        FailLine(line.LastError());
        co_return std::nullopt;
    }
    line.Output(primo_.RequestText);
    panel_.TxLbl.SetText(primo_.RequestText);
    const bool late = co_await AwaitAnswer(line, port_.Time(), AnswerWindow, AnswerLength);
    if (!line.PortOpen()) {
        // What the wait saw is the loss, not the controller: nothing is recorded for it.
        FailLine(line.LastError());
        co_return std::nullopt;
    }
    const int count = line.InBufferCount();
    if (late) {
        co_return ExchangeVerdict::NoAnswer;
    }
    if (count != AnswerLength) {
        co_return ExchangeVerdict::WrongCount;
    }
    const std::string answer = line.Input();
    if (answer.empty() || answer.back() != '\r') {
        co_return ExchangeVerdict::NoCr;
    }
    panel_.RxLbl.SetText(answer.substr(0, answer.size() - 1));
    co_return ExchangeVerdict::Good;
}

void RunControl::FailLine(std::string reason) {
    lineFailure_ = reason.empty() ? "the port was closed" : std::move(reason);
    // The run ends as if Stop had been pressed.
    primo_.StopFlag = kTrue;
    RestoreRunSet();
}

void RunControl::Record(ExchangeVerdict verdict, int attempt) {
    ListBox& errors = lists_.clipboard();
    errors.AddItem(
        ErrorRecord(primo_.AddressText.front(), port_.Time().LocalTime(), verdict, attempt));
    errors.SetVisible(true);
    panel_.RxLbl.SetText(VerdictMessage(verdict));
    panel_.ErrorLbl.SetText(std::to_string(LeadingNumber(panel_.ErrorLbl.Text()) + 1));
    ErrorLbl_Change();
}

void RunControl::ErrorLbl_Change() {
    const long long errors = LeadingNumber(panel_.ErrorLbl.Text());
    if (errors > 0) {
        panel_.ResetBtn.SetEnabled(true);
    }
    if (errors >= ErrorLimit) {
        primo_.StopFlag = kTrue;
        RestoreRunSet();
        panel_.RxLbl.SetText("There are too Errors !");
    }
}

void RunControl::StopBtn_Click() {
    primo_.StopFlag = kTrue;
    RestoreRunSet();
}

void RunControl::ResetBtn_Click() {
    panel_.ErrorLbl.SetText("0");
    ErrorLbl_Change();
    ListBox& errors = lists_.clipboard();
    errors.Clear();
    errors.SetVisible(false);
    lists_.analyzer().Clear();
    panel_.ResetBtn.SetEnabled(false);
}

void RunControl::RestoreRunSet() { SwitchRunSet(false); }

void RunControl::SwitchRunSet(bool running) {
    panel_.StartBtn.SetEnabled(!running);
    panel_.StopBtn.SetEnabled(running);
    for (Switch* control :
         {&panel_.ConsolleBtn, &panel_.CommBtn, &panel_.SearchMenu,
          static_cast<Switch*>(&panel_.MaxNumCmb), static_cast<Switch*>(&panel_.ControllerCmb),
          static_cast<Switch*>(&panel_.AddressCmb)}) {
        control->SetEnabled(!running);
    }
}

}  // namespace tarvel
