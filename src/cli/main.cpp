// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/LogPriorities.h"
#include "cli/StopSignals.h"
#include "core/Version.h"
#include "lines/LineSettings.h"
#include "lines/LineStack.h"
#include "lines/NetworkPort.h"
#include "platform/QtScheduler.h"
#include "protocol/Protocols.h"
#include "serial/PortChoices.h"
#include "sim/PtyBusHost.h"
#include "sim/SimulatedLineFile.h"
#include "sim/SimulatedMaster.h"

namespace {

QCoro::Task<> RunSession(tarvel::CliSession& session, int& status) {
    status = co_await session.Run();
    QCoreApplication::exit(status);
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tarvel;
    BlockNetworkWakeSignal();
    const CliOptions options = ParseCliArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::cout << CommandUsage(options.command);
        return kAllWell;
    }
    if (options.version) {
        std::cout << "line-tarvel-cli " << kVersion << "\n";
        return kAllWell;
    }
    if (!options.error.empty()) {
        std::cerr << "line-tarvel-cli: " << options.error << "\n";
        return kUsageError;
    }
    QtPortEnumerator hostPorts;
    PortMap ports(&hostPorts);
    for (const PortAssignment& assignment : options.assignments) {
        ports.Assign(assignment.number, assignment.device);
    }
    if (options.command == CliCommand::ListPorts) {
        for (int number = PortMap::kFirstPort; number <= PortMap::kLastPort; ++number) {
            std::cout << ports.Describe(number) << "\n";
        }
        return kAllWell;
    }

    // A wrong line description ends the program before anything else is done, as a file that
    // cannot be read does.
    SimulatedLine described = BuiltInLine(options.line.protocol);
    if (!options.simulateFile.empty()) {
        auto read = ReadSimulatedLineFile(options.simulateFile);
        if (const auto* error = std::get_if<std::string>(&read)) {
            std::cerr << "line-tarvel-cli: " << *error << "\n";
            return kPortOrFileFailed;
        }
        described = std::get<SimulatedLine>(std::move(read));
        // The program would ask in one protocol and the controllers answer in another: nothing
        // would be found, and nothing would say why.
        if (described.protocol != options.line.protocol) {
            const Protocol* speaks = ProtocolAt(described.protocol);
            std::cerr << "line-tarvel-cli: " << options.simulateFile << " describes a line that "
                      << "speaks " << (speaks ? speaks->Name() : "another protocol")
                      << ": add --protocol " << (speaks ? speaks->CommandName() : "") << "\n";
            return kUsageError;
        }
    }

    QCoreApplication application(argc, argv);
    // Qt takes the host's locale for the C library too; numbers in reports and files keep the
    // decimal point whatever the language of the desktop.
    std::setlocale(LC_NUMERIC, "C");
    std::unique_ptr<PtyBusHost> simulatedLine;
    if (options.simulate) {
        std::string error;
        if (options.command == CliCommand::Listen || options.listen) {
            // A line to listen to has a master of its own: the description's, or one that
            // polls the simulated controllers at the speed and framing chosen for listening.
            SimulatedLineMaster master;
            if (described.master) {
                master = *described.master;
            } else {
                Primo chosen;
                ApplyLineOptions(options, chosen);
                master.settings = ParseSettingsText(SettingsText(chosen)).value_or(LineSettings{});
            }
            simulatedLine = PtyBusHost::StartMaster(MasterOf(described, master), error);
        } else {
            simulatedLine = PtyBusHost::Start(BusOf(described), error);
        }
        if (!simulatedLine) {
            std::cerr << "line-tarvel-cli: cannot start the simulated line: " << error << "\n";
            return kPortOrFileFailed;
        }
        ports.Assign(1, simulatedLine->DevicePath());
    }

    int signalPipe[2] = {-1, -1};
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("line-tarvel-cli: pipe");
        return kPortOrFileFailed;
    }
    QtScheduler scheduler;
    // A listen sends nothing, whatever goes wrong above the line.
    LineStack line(ports, scheduler,
                   LineStackOptions{options.rs485, options.echo,
                                    options.command == CliCommand::Listen || options.listen});
    // JSON goes to standard output, so progress on a terminal does not disturb it. A watch
    // shows none: its standard error is a log, each line with its syslog priority.
    const bool watching = options.command == CliCommand::Watch && options.targetsFolder.empty();
    const bool progress = !watching && ::isatty(STDERR_FILENO) == 1;
    // What the session tells without a priority (a file that failed, an echo, dropped input) is
    // a warning: the watch goes on.
    PrioritizedLines prioritized(std::cerr, 4);
    std::ostream watchLog(&prioritized);
    const std::string device = ports.DeviceFor(options.line.port + 1).value_or("");
    CliSession session(options, CliHost{scheduler, line.Line(), std::cout,
                                        watching ? watchLog : std::cerr, progress, device});

    QSocketNotifier signalled(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalled, &QSocketNotifier::activated, [&session, &signalPipe, progress] {
        unsigned char number = 0;
        while (::read(signalPipe[0], &number, 1) > 0) {
            if (number == SIGHUP) {
                session.Reopen();
                continue;
            }
            if (progress) {
                std::cerr << "\r\x1b[Kline-tarvel-cli: stopping after the exchange in progress; "
                             "Ctrl+C again ends at once\n";
            }
            session.Stop(StopSignalName(number));
        }
    });
    CatchStopSignals(signalPipe[1]);
    if (watching) {
        CatchReopenSignal(signalPipe[1]);
    }

    // Started from the event loop, so that even a command that needs no waiting ends it.
    int status = kUsageError;
    std::optional<QCoro::Task<>> task;
    QTimer::singleShot(0, [&] { task.emplace(RunSession(session, status)); });
    QCoreApplication::exec();
    std::cout.flush();
    return status;
}
