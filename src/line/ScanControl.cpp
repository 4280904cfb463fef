// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/ScanControl.h"

namespace tarvel {

ScanControl::ScanControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts,
                         LineDetector& detector, ScanDisplay& display)
    : primo_(primo),
      port_(port),
      lineUse_(lineUse),
      prompts_(prompts),
      detector_(detector),
      display_(display),
      tasks_(port.Time(), [this](const std::string& what) { ReportInternalFailure(what); }) {}

void ScanControl::SearchMenu_Click() {
    if (primo_.ProtocolIndex != 0) {
        prompts_.ShowMessage({"Not available Protocol !", "Info Box", MessageIcon::Critical,
                              MessageButtons::RetryCancel, std::string()});
        prompts_.Beep();
        return;
    }
    if (const char* refusal = lineUse_.Refusal()) {
        prompts_.ShowMessage(
            {refusal, "Info Box", MessageIcon::Exclamation, MessageButtons::Ok, std::string()});
        return;
    }
    // A second click while this scan starts up, or while it waits for a stopped loop to
    // finish its last exchange, asks for nothing more.
    if (waitingForLine_ || detector_.StartingUp() ||
        (detector_.Running() && primo_.StopFlag != kTrue)) {
        return;
    }
    if (!port_.Line().PortOpen()) {
        prompts_.ShowMessage({"The serial port is closed, so the line cannot be scanned.\nOpen "
                              "it with \"Comm\" first.",
                              "Info Box", MessageIcon::Exclamation, MessageButtons::Ok,
                              port_.Line().LastError()});
        return;
    }
    display_.HoldControls();
    waitingForLine_ = true;
    tasks_.Start(RunScan());
}

QCoro::Task<> ScanControl::RunScan() {
    LineUse::Lease lease = co_await lineUse_.Acquire();
    waitingForLine_ = false;
    const ScanEnd end = co_await detector_.Scan(std::move(lease));
    if (!end.lineFailure.empty()) {
        prompts_.ShowMessage(
            {"The line detector has stopped because the serial line failed:\n" + end.lineFailure +
                 "\n\nWhat was found so far is kept. Open the port again with \"Comm\".",
             "Info Box", MessageIcon::Critical, MessageButtons::Ok, std::string()});
    }
}

void ScanControl::ReportInternalFailure(const std::string& what) {
    primo_.StopFlag = kTrue;
    display_.ScanAborted();
    prompts_.ShowMessage({"The line detector has stopped on an internal error:\n" + what,
                          "Info Box", MessageIcon::Critical, MessageButtons::Ok, std::string()});
}

}  // namespace tarvel
