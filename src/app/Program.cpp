// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Program.h"

#include <stdexcept>
#include <utility>

#include "analysis/AnalizerDlg.h"
#include "analysis/ClipDlg.h"
#include "app/IntroDlg.h"
#include "app/TarvelDlg.h"
#include "line/ListDlg.h"
#include "monitor/MonitorDlg.h"
#include "monitor/MonitorRunControl.h"
#include "monitor/SettingsSearchControl.h"
#include "serial/SetPortDlg.h"
#include "serial/TerminalDlg.h"

namespace tarvel {

Program::Program(Platform platform)
    : platform_(std::move(platform)),
      port_(platform_.line, primo, platform_.scheduler),
      lineUse_(platform_.scheduler) {}

Program::~Program() = default;

LineDescription Program::LineInUse() const {
    std::string device;
    if (platform_.ports != nullptr) {
        device = platform_.ports->DeviceFor(primo.PortNumber).value_or("");
    }
    return DescribeLine(primo, std::move(device), "COM" + std::to_string(primo.PortNumber));
}

TarvelDlg& Program::Tarvel() {
    if (!tarvel_) {
        // A window built while the main window is being built must not ask for it: it would
        // build a second one, and so on without end.
        if (std::exchange(buildingTarvel_, true)) {
            throw std::logic_error("the main window was asked for while it was being built");
        }
        struct Built {
            bool& building;
            ~Built() { building = false; }
        } built{buildingTarvel_};
        tarvel_ = std::make_unique<TarvelDlg>(*this);
    }
    return *tarvel_;
}

IntroDlg& Program::Intro() {
    if (!intro_) {
        intro_ = std::make_unique<IntroDlg>();
    }
    return *intro_;
}

SetPortDlg& Program::SetPort() {
    if (!setPort_) {
        setPort_ = std::make_unique<SetPortDlg>(
            primo, port_, Ask(), [this]() -> TextDisplay& { return Tarvel().StatusPanel(2); },
            platform_.ports);
    }
    return *setPort_;
}

TerminalDlg& Program::Terminal() {
    if (!terminal_) {
        terminal_ = std::make_unique<TerminalDlg>(primo, port_, Ask());
    }
    return *terminal_;
}

ListDlg& Program::List() {
    if (!list_) {
        list_ = std::make_unique<ListDlg>();
    }
    return *list_;
}

ClipDlg& Program::Clip() {
    if (!clip_) {
        // The main window is reached only when a command needs it, never while the clipboard is
        // being built: building one of the two windows cannot lead back to itself.
        clip_ = std::make_unique<ClipDlg>([this]() -> Switch& { return Tarvel().Ui().ReportBtn; },
                                          [this] { Tarvel().AnalizerBtn_Click(); }, Ask(), Time());
    }
    return *clip_;
}

AnalizerDlg& Program::Analizer() {
    if (!analizer_) {
        analizer_ = std::make_unique<AnalizerDlg>(
            [this]() -> Switch& { return Tarvel().Ui().AnalizerBtn; }, Ask(), Time());
    }
    return *analizer_;
}

MonitorDlg& Program::Monitor() {
    if (!monitor_) {
        // The monitor itself belongs to the main window, which listens to every run from the
        // start; the window only shows it.
        monitor_ =
            std::make_unique<MonitorDlg>(Tarvel().Monitor(), Ask(), Time(), &Tarvel().Listening());
        settingsSearch_ = std::make_unique<SettingsSearchControl>(primo, Port(), LineUser(), Ask());
        monitor_->AttachSettingsSearch(*settingsSearch_);
        monitorRun_ = std::make_unique<MonitorRunControl>(primo, Port(), LineUser(), Ask(),
                                                          Tarvel().Monitor());
        monitor_->AttachMonitorRun(*monitorRun_);
    }
    return *monitor_;
}

bool Program::StartUp() {
    Intro().exec();
    SetPort().exec();
    if (primo.PortAccepted == kFalse) {
        return false;
    }
    Tarvel().show();
    return true;
}

}  // namespace tarvel
