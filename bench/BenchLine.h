// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the pseudo-terminal benchmarks share: the simulated bus in a child process (so that the
// program's CPU figures are its own), the program's side of the line at 9600 baud 8N1, the test
// cycle driven as a program without windows would, and the clocks to measure it by.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/TestCycle.h"
#include "lines/EchoCancellingLine.h"
#include "lines/QtSerialLine.h"
#include "platform/QtScheduler.h"
#include "platform/Tasks.h"
#include "sim/PtyBusHost.h"

namespace tarvel::bench {

using namespace std::chrono_literals;

// CPU time of the whole program, or of the calling thread alone.
inline double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline long ContextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

inline double Seconds(Duration d) { return std::chrono::duration<double>(d).count(); }

// Runs the program's event loop for `span`.
inline void Wait(Duration span) {
    QEventLoop loop;
    QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(span), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

// The simulated bus on a pseudo-terminal, answered by a child process.
class SimulatorProcess {
public:
    // `echo`: the line's adapter gives back what the program sends.
    explicit SimulatorProcess(const std::vector<SimulatedController>& controllers,
                              bool echo = false, const Protocol& protocol = DefaultProtocol()) {
        int path[2];
        if (pipe(path) != 0) {
            return;
        }
        child_ = fork();
        if (child_ == 0) {
            prctl(PR_SET_NAME, "bench-simulator");
            close(path[0]);
            std::string error;
            SimulatedBus bus(controllers, 0.0, 1, protocol);
            bus.SetEcho(echo);
            auto host = PtyBusHost::Start(std::move(bus), error);
            const std::string device = host ? host->DevicePath() : "";
            [[maybe_unused]] auto written = write(path[1], device.c_str(), device.size() + 1);
            close(path[1]);
            pause();
            _exit(0);
        }
        close(path[1]);
        char device[256] = {};
        [[maybe_unused]] auto got = read(path[0], device, sizeof device - 1);
        close(path[0]);
        device_ = device;
    }
    ~SimulatorProcess() {
        if (child_ > 0) {
            kill(child_, SIGTERM);
            waitpid(child_, nullptr, 0);
        }
    }
    const std::string& Device() const { return device_; }
    pid_t Pid() const { return child_; }

private:
    pid_t child_ = -1;
    std::string device_;
};

// When each request was written, and how many exchanges failed; when each exchange's answer
// ended and its verdict came.
struct ExchangeLog final : CycleSink {
    std::vector<Instant> written;
    std::vector<Exchange> judged;
    int exchanges = 0;
    int failures = 0;
    void RequestWritten(const Request& request) override { written.push_back(request.written); }
    void ExchangeJudged(const Exchange& exchange) override {
        ++exchanges;
        failures += exchange.Failed();
        Exchange stamps;
        stamps.request.written = exchange.request.written;
        stamps.lastArrival = exchange.lastArrival;
        stamps.judged = exchange.judged;
        judged.push_back(std::move(stamps));
    }
    void Clear() { *this = ExchangeLog(); }
};

inline QCoro::Task<> RunOnce(TestCycle& cycle, LineUse& lineUse) {
    co_await cycle.TxAscon(co_await lineUse.Acquire());
}

// The program's side: the real serial path opened on the simulator's device, and the cycle.
struct ProgramSide {
    QtScheduler scheduler;
    PortMap ports;
    std::unique_ptr<QtSerialLine> line;
    // In front of the line, as in the program.
    std::unique_ptr<EchoCancellingLine> echoLayer;
    Primo primo;
    std::unique_ptr<PortService> port;
    LineUse lineUse{scheduler};
    ControllerAddressTable table = StartupAddressTable();
    std::unique_ptr<TestCycle> cycle;
    ExchangeLog log;
    TaskOwner tasks{scheduler, [](const std::string& what) {
                        std::fprintf(stderr, "the run failed: %s\n", what.c_str());
                    }};

    // False, with the reason printed, when the line does not open.
    bool Open(const std::string& device, EchoMode echo = EchoMode::Off,
              const Protocol& protocol = DefaultProtocol(), int baud = 9600) {
        ports.Assign(1, device);
        line = std::make_unique<QtSerialLine>(ports, scheduler);
        return OpenOn(*line, device, echo, protocol, baud);
    }
    // The same on a line of the caller's, named `device` in messages.
    bool OpenOn(SerialLine& serialLine, const std::string& device, EchoMode echo,
                const Protocol& protocol, int baud, char parity = 'N', int dataBits = 8) {
        echoLayer = std::make_unique<EchoCancellingLine>(serialLine, scheduler, echo);
        primo.PortNumber = 1;
        primo.BaudText = " " + std::to_string(baud);
        primo.ParityText = std::string(1, parity);
        primo.DataBitsText = std::to_string(dataBits);
        primo.StopBitsText = " 1";
        port = std::make_unique<PortService>(*echoLayer, primo, scheduler, protocol);
        if (port->OpenPort()) {
            std::fprintf(stderr, "cannot open %s: %s\n", device.c_str(),
                         port->OpenFailure().c_str());
            return false;
        }
        cycle = std::make_unique<TestCycle>(primo, *port, table);
        cycle->AddSink(log);
        return true;
    }
    void Configure(int count, int retries) {
        primo.DeviceCount = static_cast<std::int16_t>(count);
        primo.RetryCount = static_cast<std::int16_t>(retries);
        log.Clear();
    }
    // Starts a run, lets `until` run the event loop, stops the run and waits for its end.
    template <typename Until>
    void RunUntil(Until until) {
        tasks.Start(RunOnce(*cycle, lineUse));
        until();
        primo.StopFlag = kTrue;
        while (tasks.Running() > 0) {
            Wait(10ms);
        }
    }
};

}  // namespace tarvel::bench
