// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>

#include "core/LineDescription.h"
#include "core/Primo.h"
#include "lines/PortMap.h"
#include "lines/SerialLine.h"
#include "platform/Prompts.h"
#include "platform/Scheduler.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

class AnalizerDlg;
class ClipDlg;
class IntroDlg;
class ListDlg;
class MonitorDlg;
class MonitorRunControl;
class SettingsSearchControl;
class SetPortDlg;
class TarvelDlg;
class TerminalDlg;

// What the program needs of its host.
struct Platform {
    Scheduler& scheduler;
    SerialLine& line;
    Prompts& prompts;
    // Ends the process at once, wherever it is.
    std::function<void()> endProcess;
    // What COM1 ... COM4 stand for, made again each time the port dialog is shown; none where
    // the line is not the host's (the simulated line of the tests).
    PortMap* ports = nullptr;
};

// The program: its shared state, the serial line service, and exactly one instance of each
// window, created (and loaded) the first time anything touches it, afterwards only hidden and
// shown.
class Program {
public:
    explicit Program(Platform platform);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    Primo primo;

    PortService& Port() { return port_; }
    LineUse& LineUser() { return lineUse_; }
    Scheduler& Time() { return platform_.scheduler; }
    SerialLine& Line() { return platform_.line; }
    Prompts& Ask() { return platform_.prompts; }
    // The port chosen in the port dialog, the device behind it and its settings.
    LineDescription LineInUse() const;

    TarvelDlg& Tarvel();
    IntroDlg& Intro();
    SetPortDlg& SetPort();
    TerminalDlg& Terminal();
    ListDlg& List();
    ClipDlg& Clip();
    AnalizerDlg& Analizer();
    MonitorDlg& Monitor();
    bool HasTarvel() const { return tarvel_ != nullptr; }

    // Intro window, then the port dialog, then the main window. False when the operator
    // cancelled the port dialog: the process is to end, and no window is left.
    bool StartUp();
    void EndProcess() { platform_.endProcess(); }

private:
    Platform platform_;
    PortService port_;
    LineUse lineUse_;
    std::unique_ptr<TarvelDlg> tarvel_;
    bool buildingTarvel_ = false;
    std::unique_ptr<IntroDlg> intro_;
    std::unique_ptr<SetPortDlg> setPort_;
    std::unique_ptr<TerminalDlg> terminal_;
    std::unique_ptr<ListDlg> list_;
    std::unique_ptr<ClipDlg> clip_;
    std::unique_ptr<AnalizerDlg> analizer_;
    // Before the window that shows it, so that it outlives the window.
    std::unique_ptr<SettingsSearchControl> settingsSearch_;
    std::unique_ptr<MonitorRunControl> monitorRun_;
    std::unique_ptr<MonitorDlg> monitor_;
};

}  // namespace tarvel
