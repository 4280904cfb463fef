// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "line/DeviceTableEditor.h"
#include "line/LineDetector.h"
#include "line/ScanControl.h"
#include "line/ScanDisplay.h"
#include "support/EngineRig.h"

namespace tarvel::testing {

// The line detector wired as the main window's "&Search!" runs it: the detector, what the
// window shows of a scan, and the control that starts and stops it, over fake controls.
struct ScanRig : EngineRig {
    FakeSwitch AnalizerBtn, ReportBtn;
    FakeListBox controllerList;
    DeviceTableEditor editor{primo, table, DeviceLists{MaxNumCmb, ControllerCmb, AddressCmb},
                             prompts};
    LineDetector detector{primo, port, table};
    ScanDisplay scanDisplay{
        ScanControls{StartBtn, StopBtn, ConsolleBtn, CommBtn, SearchMenu, AnalizerBtn, ReportBtn,
                     TxLbl, RxLbl, StatusPanel1, ProgressBar},
        [this]() -> ListBox& { return controllerList; }, editor, display};
    ScanControl scan{primo, port, lineUse, prompts, detector, scanDisplay};
};

}  // namespace tarvel::testing
