// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include "engine/RunDisplay.h"
#include "line/DeviceTableEditor.h"
#include "line/LineDetector.h"
#include "platform/Controls.h"

namespace tarvel {

// The main window's controls that show a scan.
struct ScanControls {
    Switch& StartBtn;
    Switch& StopBtn;
    Switch& ConsolleBtn;
    Switch& CommBtn;
    Switch& SearchMenu;
    Switch& AnalizerBtn;
    Switch& ReportBtn;
    TextDisplay& TxLbl;
    TextDisplay& RxLbl;
    TextDisplay& StatusPanel1;
    ProgressDisplay& ProgressBar;
};

// What the main window shows of a scan: the requests and results, the progress over the 64
// addresses, one line in the controller list for each controller found, and the summary, which
// makes the controllers found the device table.
class ScanDisplay final : public ScanSink {
public:
    // `controllerList` gives the controller list window's list (creating it, hidden, on first
    // use); `runView` knows whether a run waits to start.
    ScanDisplay(ScanControls controls, std::function<ListBox&()> controllerList,
                DeviceTableEditor& table, RunDisplay& runView);

    // A scan has been accepted: the Receive display emptied, and nothing that could start
    // something else on the line can be pressed until the scan has started.
    void HoldControls();

    void ScanStarted() override;
    void AddressStarting(Station station, int position, int count) override;
    void RequestWritten(const Request& request) override;
    void ExchangeJudged(const Exchange& exchange) override;
    void ControllerFound(int index, int found) override;
    void ScanEnded(const ScanEnd& end) override;
    // A scan that broke off without reporting its end.
    void ScanAborted();

private:
    void GiveControlsBack();

    ScanControls controls_;
    std::function<ListBox&()> controllerList_;
    DeviceTableEditor& table_;
    RunDisplay& runView_;
    bool scanPending_ = false;  // accepted, not yet started
};

}  // namespace tarvel
