// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "app/CommandLine.h"
#include "app/Program.h"
#include "core/Version.h"
#include "lines/LineStack.h"
#include "lines/NetworkPort.h"
#include "platform/QtScheduler.h"
#include "sim/PtyBusHost.h"
#include "sim/SimulatedLineFile.h"
#include "ui/QtPrompts.h"

namespace {

[[noreturn]] void EndNow() {
    // "E&xit !" ends the process wherever it is, nested dialogs and running loops included;
    // the serial line has been closed already.
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tarvel;
    BlockNetworkWakeSignal();
    const Options options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.error.empty()) {
        std::cerr << argv[0] << ": " << options.error << "\n\n" << UsageText(argv[0]);
        return 2;
    }
    if (options.help) {
        std::cout << UsageText(argv[0]);
        return 0;
    }
    if (options.version) {
        std::cout << VersionText() << "\n";
        return 0;
    }

    QtPortEnumerator hostPorts;
    PortMap ports(&hostPorts);
    for (const PortAssignment& assignment : options.ports) {
        ports.Assign(assignment.number, assignment.device);
    }
    if (options.listPorts) {
        // Without a window: this works on a machine without a display too.
        for (int number = PortMap::kFirstPort; number <= PortMap::kLastPort; ++number) {
            std::cout << ports.Describe(number) << "\n";
        }
        return 0;
    }

    // A wrong line description is told before any window, as a wrong option is.
    SimulatedLine described = BuiltInLine();
    if (!options.simulateFile.empty()) {
        auto read = ReadSimulatedLineFile(options.simulateFile);
        if (const auto* error = std::get_if<std::string>(&read)) {
            std::cerr << argv[0] << ": " << *error << "\n";
            return 2;
        }
        described = std::get<SimulatedLine>(std::move(read));
    }

    QApplication application(argc, argv);
    // Qt takes the host's locale for the C library too; numbers in reports and files keep the
    // decimal point whatever the language of the desktop.
    std::setlocale(LC_NUMERIC, "C");
    // Lets a Wayland desktop match the window to its desktop entry and icon.
    QGuiApplication::setDesktopFileName("line-tarvel");
    QApplication::setApplicationName("Line Tarvel");
    QApplication::setApplicationVersion(kVersion);
    QApplication::setQuitOnLastWindowClosed(false);
    std::unique_ptr<PtyBusHost> simulatedLine;
    if (options.simulate) {
        std::string error;
        simulatedLine = described.master
                            ? PtyBusHost::StartMaster(MasterOf(described, *described.master), error)
                            : PtyBusHost::Start(BusOf(described), error);
        if (!simulatedLine) {
            std::cerr << argv[0] << ": cannot start the simulated line: " << error << "\n";
            return 1;
        }
        ports.Assign(1, simulatedLine->DevicePath());
        std::cerr << "COM1 is the simulated line on " << simulatedLine->DevicePath() << " ("
                  << SimulatedLineSummary(described);
        if (described.master) {
            std::cerr << "; its own master polls it at " << MasterSettingsText(*described.master)
                      << ": listen in the Line Monitor";
        }
        std::cerr << ")\n";
    }

    QtScheduler scheduler;
    LineStack line(ports, scheduler, LineStackOptions{options.rs485, options.echo});
    QtPrompts prompts;
    Program program(Platform{scheduler, line.Line(), prompts, [] { EndNow(); }, &ports});
    if (!program.StartUp()) {
        return 0;
    }
    return QApplication::exec();
}
