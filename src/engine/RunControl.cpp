// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunControl.h"

namespace tarvel {

RunControl::RunControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts,
                       TestCycle& cycle, RunDisplay& display)
    : primo_(primo),
      port_(port),
      lineUse_(lineUse),
      prompts_(prompts),
      cycle_(cycle),
      display_(display),
      tasks_(port.Time(), [this](const std::string& what) { ReportInternalFailure(what); }) {}

void RunControl::StartBtn_Click() {
    switch (primo_.ProtocolIndex) {
        case 0: break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            prompts_.ShowMessage({"Not available Protocol !", "Info Box", MessageIcon::Critical,
                                  MessageButtons::RetryCancel, std::string()});
            return;
        default: return;
    }
    if (const char* refusal = lineUse_.Refusal()) {
        prompts_.ShowMessage(
            {refusal, "Info Box", MessageIcon::Exclamation, MessageButtons::Ok, std::string()});
        return;
    }
    // A second click while this run starts up, or while it waits for a stopped loop to finish
    // its last exchange, asks for nothing more.
    if (StartPending() || (cycle_.Running() && primo_.StopFlag != kTrue)) {
        return;
    }
    if (!port_.Line().PortOpen()) {
        prompts_.ShowMessage({"The serial port is closed, so no test can run.\nOpen it with "
                              "\"Comm\" first.",
                              "Info Box", MessageIcon::Exclamation, MessageButtons::Ok,
                              port_.Line().LastError()});
        return;
    }
    // A click on Comm, Terminal or the lists before the run has switched the run set (it does
    // so after its first settle) would be queued behind the run: nothing of it may be pressed.
    display_.HoldRunSet();
    waitingForLine_ = true;
    tasks_.Start(RunTest());
}

bool RunControl::StartPending() const { return waitingForLine_ || cycle_.StartingUp(); }

QCoro::Task<> RunControl::RunTest() {
    LineUse::Lease lease = co_await lineUse_.Acquire();
    waitingForLine_ = false;
    const RunEnd end = co_await cycle_.TxAscon(std::move(lease));
    if (!end.lineFailure.empty()) {
        prompts_.ShowMessage(
            {"The test run has stopped because the serial line failed:\n" + end.lineFailure +
                 "\n\nThe error list and the error counter are kept. Open the port again with "
                 "\"Comm\".",
             "Info Box", MessageIcon::Critical, MessageButtons::Ok, std::string()});
    }
}

void RunControl::ReportInternalFailure(const std::string& what) {
    primo_.StopFlag = kTrue;
    display_.RunAborted();
    prompts_.ShowMessage({"The test run has stopped on an internal error:\n" + what +
                              "\n\nThe error list and the error counter are kept.",
                          "Info Box", MessageIcon::Critical, MessageButtons::Ok, std::string()});
}

void RunControl::StopBtn_Click() {
    primo_.StopFlag = kTrue;
    display_.RestoreRunSet();
}

void RunControl::ResetBtn_Click() {
    cycle_.ResetErrors();
    display_.ClearErrorLists();
}

}  // namespace tarvel
