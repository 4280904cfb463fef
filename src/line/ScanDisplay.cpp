// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/ScanDisplay.h"

#include <utility>

#include "core/NumberText.h"

namespace tarvel {

ScanDisplay::ScanDisplay(ScanControls controls, std::function<ListBox&()> controllerList,
                         DeviceTableEditor& table, RunDisplay& runView)
    : controls_(controls),
      controllerList_(std::move(controllerList)),
      table_(table),
      runView_(runView) {}

void ScanDisplay::HoldControls() {
    controls_.RxLbl.SetText("");
    for (Switch* control :
         {&controls_.SearchMenu, &controls_.StartBtn, &controls_.CommBtn, &controls_.ConsolleBtn,
          &controls_.AnalizerBtn, &controls_.ReportBtn, &controls_.StopBtn}) {
        control->SetEnabled(false);
    }
    if (!std::exchange(scanPending_, true)) {
        runView_.AddPendingStart();
    }
}

void ScanDisplay::ScanStarted() {
    if (std::exchange(scanPending_, false)) {
        runView_.RemovePendingStart();
    }
    // Empty at the start, also when a run that ended just before wrote its last verdict here.
    controls_.RxLbl.SetText("");
    controls_.StopBtn.SetEnabled(true);
    controls_.StatusPanel1.SetText("Line Detector is working !");
    // Up to two minutes on an empty line: the operator sees how far the scan is.
    controls_.ProgressBar.SetMaximum(kAddressCount);
}

void ScanDisplay::AddressStarting(Station /*station*/, int position, int /*count*/) {
    controls_.ProgressBar.SetValue(position + 1);
}

void ScanDisplay::RequestWritten(const Request& request) { controls_.TxLbl.SetText(request.frame); }

void ScanDisplay::ExchangeJudged(const Exchange& exchange) {
    if (exchange.verdict != ExchangeVerdict::Good) {
        controls_.RxLbl.SetText(VerdictMessage(exchange));
    }
}

void ScanDisplay::ControllerFound(int index, int found) {
    // A controller at "@" is listed like any other.
    controls_.RxLbl.SetText("1 Device Found !");
    controllerList_().AddItem("Controller " + SignedNumberText(found) +
                              "  Address: " + std::string(1, AddressCharacter(index)));
}

void ScanDisplay::ScanEnded(const ScanEnd& end) {
    const int found = static_cast<int>(end.found.size());
    if (found == 0) {
        controls_.RxLbl.SetText("No devices On Line !");
    } else {
        controls_.RxLbl.SetText("Devices Found: " + SignedNumberText(found));
        // The controllers found are the table, whatever the operator changed meanwhile.
        for (int k = 0; k < found; ++k) {
            table_.Table()[static_cast<std::size_t>(k)] = end.found[static_cast<std::size_t>(k)];
        }
        table_.SelectCount(found - 1);
        table_.SelectController(0);
    }
    GiveControlsBack();
    controls_.StatusPanel1.SetText("End Line Detector work !");
}

void ScanDisplay::ScanAborted() {
    if (std::exchange(scanPending_, false)) {
        runView_.RemovePendingStart();
    }
    GiveControlsBack();
    controls_.StatusPanel1.SetText("End Line Detector work !");
}

void ScanDisplay::GiveControlsBack() {
    controls_.AnalizerBtn.SetEnabled(true);
    controls_.ReportBtn.SetEnabled(true);
    if (runView_.Held()) {
        return;  // a run accepted meanwhile has the rest
    }
    // "&Search!" and "Terminal" come back too, or they would stay disabled after a scan that
    // ran to its end.
    for (Switch* control :
         {&controls_.StartBtn, &controls_.CommBtn, &controls_.SearchMenu, &controls_.ConsolleBtn}) {
        control->SetEnabled(true);
    }
    controls_.StopBtn.SetEnabled(false);
}

}  // namespace tarvel
