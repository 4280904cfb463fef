#include <fcntl.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "core/Version.h"
#include "platform/QtScheduler.h"
#include "platform/QtSerialLine.h"
#include "sim/PtyBusHost.h"

namespace {

// Ctrl+C reaches the event loop through a pipe: the handler itself may do nothing but write.
int interruptPipe[2] = {-1, -1};

void OnInterrupt(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(interruptPipe[1], &byte, 1);
}

QCoro::Task<> RunSession(tarvel::CliSession& session, int& status) {
    status = co_await session.Run();
    QCoreApplication::exit(status);
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tarvel;
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

    QCoreApplication application(argc, argv);
    std::unique_ptr<PtyBusHost> simulatedLine;
    if (options.simulate) {
        std::string error;
        simulatedLine = PtyBusHost::Start(SimulatedBus(DemoControllers(), 0.0, 1), error);
        if (!simulatedLine) {
            std::cerr << "line-tarvel-cli: cannot start the simulated line: " << error << "\n";
            return kPortOrFileFailed;
        }
        ports.Assign(1, simulatedLine->DevicePath());
    }

    if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("line-tarvel-cli: pipe");
        return kPortOrFileFailed;
    }
    QtScheduler scheduler;
    QtSerialLine line(ports, scheduler);
    const bool progress = ::isatty(STDERR_FILENO) == 1 && !options.json;
    CliSession session(options, CliHost{scheduler, line, std::cout, std::cerr, progress});

    QSocketNotifier interrupted(interruptPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupted, &QSocketNotifier::activated, [&session] {
        char bytes[16];
        while (::read(interruptPipe[0], bytes, sizeof bytes) > 0) {
        }
        session.Stop();
    });
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    // Started from the event loop, so that even a command that needs no waiting ends it.
    int status = kUsageError;
    std::optional<QCoro::Task<>> task;
    QTimer::singleShot(0, [&] { task.emplace(RunSession(session, status)); });
    QCoreApplication::exec();
    std::cout.flush();
    return status;
}
