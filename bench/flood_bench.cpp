// SPDX-License-Identifier: GPL-3.0-or-later
// What the built programs do against a port that delivers far more than its wire can carry: a
// pseudo-terminal a writer fills as fast as it can, and a local TCP server that sends without
// end (tcp://). Each program runs as a child process for 30 s on each of them:
//
//   listen   line-tarvel-cli listen --duration 30 --json, which ends by itself
//   test     line-tarvel-cli test --addresses 1,2 --json, ended after 30 s by SIGINT (Ctrl+C)
//            unless its 900-error limit ends it first, which a flood makes likely; so also
//   test^C   the same, ended by SIGINT after a third of the time
//   window   the Line Monitor listening, in a child of this program on Qt's offscreen platform
//            with the window shown, ended after 30 s by SIGINT, on which it clicks "Stop
//            listening"; it measures the longest gap between two ticks of a 10 ms timer while
//            it listened
//
// All at Modbus RTU, 9600 baud 8N1. For each: the peak resident memory (VmHWM, or VmRSS where
// it was read higher, until the exit) and the resident memory at the deadline, the CPU used by the
// deadline (utime + stime), the time from the deadline (the end of --duration counted from the
// start of the process, or the SIGINT) to the exit, and the dropped input the program reports.
// Figures only.
//
// build/bench/flood_bench [seconds per program, 30 unless given]

#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "lines/LineSettings.h"
#include "lines/LineStack.h"
#include "lines/NetworkPort.h"
#include "monitor/LineMonitor.h"
#include "monitor/ListenControl.h"
#include "monitor/MonitorDlg.h"
#include "platform/QtScheduler.h"
#include "protocol/Protocols.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

using namespace tarvel;
using namespace std::chrono_literals;
using Wall = std::chrono::steady_clock;

namespace {

// ---- The flood, in a child process of its own so that its CPU is not the programs'.

struct Offered {
    std::atomic<std::uint64_t> pty{0};
    std::atomic<std::uint64_t> tcp{0};
};

// Bytes of no protocol at all, the same block again and again.
std::string FloodBlock() {
    std::string block(64 * 1024, '\0');
    std::mt19937 random(7);
    for (char& byte : block) {
        byte = static_cast<char>(random());
    }
    return block;
}

void SendWithoutEnd(int socket, Offered& offered, const std::string& block) {
    while (true) {
        const ssize_t sent = ::send(socket, block.data(), block.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            break;
        }
        offered.tcp += static_cast<std::uint64_t>(sent);
    }
    ::close(socket);
}

// Starts the flood; gives its pseudo-terminal's name and its TCP port, or nothing.
pid_t StartFlood(Offered& offered, std::string& device, int& port) {
    int path[2];
    if (::pipe(path) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child != 0) {
        ::close(path[1]);
        char text[300] = {};
        [[maybe_unused]] const auto got = ::read(path[0], text, sizeof text - 1);
        ::close(path[0]);
        char name[256] = {};
        if (std::sscanf(text, "%255s %d", name, &port) != 2) {
            return -1;
        }
        device = name;
        return child;
    }
    ::prctl(PR_SET_NAME, "flood");
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    int master = -1;
    int slave = -1;
    char name[128] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        _exit(1);
    }
    // Kept open, so that the writer has a terminal to fill between the programs' runs too.
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(server, 4) != 0 ||
        ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        _exit(1);
    }
    const std::string said = std::string(name) + " " + std::to_string(ntohs(address.sin_port));
    [[maybe_unused]] const auto written = ::write(path[1], said.c_str(), said.size() + 1);
    ::close(path[1]);
    const std::string block = FloodBlock();
    std::thread([&] {
        while (true) {
            const ssize_t n = ::write(master, block.data(), block.size());
            if (n > 0) {
                offered.pty += static_cast<std::uint64_t>(n);
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
    }).detach();
    while (true) {
        const int connection = ::accept(server, nullptr, nullptr);
        if (connection >= 0) {
            std::thread(SendWithoutEnd, connection, std::ref(offered), std::cref(block)).detach();
        }
    }
}

// ---- The window program's listening, run in a child of this program.

volatile sig_atomic_t stopAsked = 0;

class PrintedPrompts final : public Prompts {
public:
    MessageAnswer ShowMessage(const MessageRequest& request) override {
        std::fprintf(stderr, "message: %s\n", request.text.c_str());
        return MessageAnswer::Ok;
    }
    std::optional<std::string> ChooseFileToOpen(const FileRequest&) override { return {}; }
    std::optional<std::string> ChooseFileToSave(const FileRequest&) override { return {}; }
    void Beep() override {}
};

int WindowListening(int argc, char* argv[], const std::string& device) {
    struct sigaction stop {};
    stop.sa_handler = [](int) { stopAsked = 1; };
    ::sigaction(SIGINT, &stop, nullptr);
    BlockNetworkWakeSignal();
    QApplication application(argc, argv);
    PortMap ports;
    ports.Assign(1, device);
    QtScheduler scheduler;
    LineStack line(ports, scheduler, LineStackOptions{});
    Primo primo;
    primo.PortNumber = 1;
    primo.BaudText = " 9600";
    primo.ParityText = "N";
    primo.DataBitsText = "8";
    primo.StopBitsText = " 1";
    primo.ProtocolIndex = static_cast<std::int16_t>(ProtocolIndexNamed("modbus-rtu").value_or(0));
    const Protocol& protocol = *ProtocolAt(primo.ProtocolIndex);
    PortService port(line.Line(), primo, scheduler, protocol);
    if (port.OpenPort()) {
        std::fprintf(stderr, "cannot open %s: %s\n", device.c_str(), port.OpenFailure().c_str());
        return 3;
    }
    primo.PortAccepted = kTrue;
    LineUse lineUse(scheduler);
    const Duration character = CharacterTime(LineSettings{9600, Parity::None, 8, 1});
    LineMonitor monitor(
        scheduler, [character] { return character; },
        [&line] { return line.Line().ErrorCounts(); });
    monitor.SetProtocolSource([&protocol]() -> const Protocol& { return protocol; });
    monitor.SetLineSource([&primo, device] { return DescribeLine(primo, device, "COM1"); });
    monitor.SetDroppedSource([&line] { return line.Line().DroppedInput(); });
    PrintedPrompts prompts;
    ListenControl listen(primo, port, lineUse, prompts, monitor);
    MonitorDlg window(monitor, prompts, scheduler, &listen);
    window.resize(1240, 900);
    window.show();

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = -1;
    qint64 longestGap = 0;
    qint64 stopClicked = -1;
    long ticks = 0;
    long lateTicks = 0;  // more than 25 ms after the one before
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0 && stopClicked < 0) {
            longestGap = std::max(longestGap, now - lastTick);
            ++ticks;
            lateTicks += now - lastTick > 25'000'000 ? 1 : 0;
        }
        lastTick = now;
        if (stopAsked != 0 && stopClicked < 0) {
            stopClicked = clock.nsecsElapsed();
            window.StopListeningBtn_Click();
        }
    });
    QTimer::singleShot(0, [&] {
        window.ListenBtn_Click();
        ticker.start(10);
    });
    while (stopClicked < 0 || listen.Listening()) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const qint64 ended = clock.nsecsElapsed();
    std::printf("{\"dropped\": %llu, \"ticks\": %ld, \"ticksOver25Ms\": %ld, "
                "\"longestStallMs\": %.1f, \"stopToEndMs\": %.1f}\n",
                static_cast<unsigned long long>(line.Line().DroppedInput()), ticks, lateTicks,
                static_cast<double>(longestGap) / 1e6,
                static_cast<double>(ended - stopClicked) / 1e6);
    std::printf("%s\n", listen.SummaryText().c_str());
    std::fflush(stdout);
    return 0;
}

// ---- The parent: runs each program and reads its figures from /proc.

struct Sample {
    double peakMiB = -1;
    double residentMiB = -1;
};

Sample ReadMemory(pid_t pid) {
    Sample sample;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        long kib = 0;
        if (std::sscanf(line.c_str(), "VmHWM: %ld kB", &kib) == 1) {
            sample.peakMiB = static_cast<double>(kib) / 1024.0;
        } else if (std::sscanf(line.c_str(), "VmRSS: %ld kB", &kib) == 1) {
            sample.residentMiB = static_cast<double>(kib) / 1024.0;
        }
    }
    return sample;
}

// utime + stime, in seconds.
double ReadCpu(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t afterName = text.rfind(')');
    if (afterName == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(afterName + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // Fields 3 to 13 come before utime (14) and stime (15).
    for (int i = 3; i <= 13; ++i) {
        fields >> field;
    }
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string ReadAll(const std::string& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

struct Run {
    std::string name;
    std::vector<std::string> arguments;  // the program first
    bool endsByItself = false;           // else SIGINT at the deadline
    bool offscreen = false;
    int percentOfSpan = 100;  // when the deadline comes
};

void Measure(const Run& run, const std::string& portName, std::chrono::seconds fullSpan,
             const std::atomic<std::uint64_t>& offered) {
    const auto span =
        std::chrono::duration_cast<std::chrono::milliseconds>(fullSpan) * run.percentOfSpan / 100;
    char out[] = "/tmp/flood_bench_outXXXXXX";
    char err[] = "/tmp/flood_bench_errXXXXXX";
    const int outFile = ::mkstemp(out);
    const int errFile = ::mkstemp(err);
    const std::uint64_t offeredBefore = offered.load();
    const Wall::time_point start = Wall::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outFile, STDOUT_FILENO);
        ::dup2(errFile, STDERR_FILENO);
        if (run.offscreen) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
        std::vector<char*> argv;
        for (const std::string& argument : run.arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(outFile);
    ::close(errFile);

    const Wall::time_point deadline = start + span;
    Sample last;
    Sample atDeadline;
    double cpuAtDeadline = -1;
    int status = 0;
    rusage usage{};
    std::optional<Wall::time_point> exited;
    bool killed = false;
    const auto reap = [&] {
        if (::wait4(pid, &status, WNOHANG, &usage) == pid) {
            exited = Wall::now();
            return true;
        }
        return false;
    };
    // The kernel brings VmHWM up to date lazily: a resident figure read meanwhile can be above
    // it, and is the peak then.
    double peak = 0;
    const auto sample = [&] {
        const Sample now = ReadMemory(pid);
        if (now.peakMiB >= 0) {
            last = now;
            peak = std::max({peak, now.peakMiB, now.residentMiB});
        }
    };
    while (Wall::now() < deadline && !reap()) {
        sample();
        std::this_thread::sleep_for(std::min<Wall::duration>(100ms, deadline - Wall::now()));
    }
    const double offeredMiB =
        static_cast<double>(offered.load() - offeredBefore) / (1024.0 * 1024.0);
    if (!exited) {
        sample();
        atDeadline = last;
        cpuAtDeadline = ReadCpu(pid);
        if (!run.endsByItself) {
            ::kill(pid, SIGINT);
        }
        const Wall::time_point giveUp = Wall::now() + 30s;
        while (!reap()) {
            sample();
            if (Wall::now() > giveUp && !killed) {
                ::kill(pid, SIGKILL);
                killed = true;
            }
            std::this_thread::sleep_for(1ms);
        }
    }
    const double afterStart = std::chrono::duration<double>(*exited - start).count();
    const double toExit = std::chrono::duration<double>(*exited - deadline).count();
    const double cpuAtExit =
        static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;

    const std::string output = ReadAll(out);
    const std::string errors = ReadAll(err);
    ::unlink(out);
    ::unlink(err);
    std::smatch found;
    const auto first = [&](const std::string& text, const char* pattern) {
        return std::regex_search(text, found, std::regex(pattern)) ? found[1].str()
                                                                   : std::string("none");
    };
    const std::string dropped = first(output, "\"dropped\": *([0-9]+)");
    const std::string notice = first(errors, "([0-9]+) bytes dropped");
    const std::string stoppedBy = first(output, "\"stoppedBy\": *\"([^\"]*)\"");
    const double seconds = std::chrono::duration<double>(span).count();
    std::printf("%-6s %-3s peak %5.1f MiB", run.name.c_str(), portName.c_str(), peak);
    if (cpuAtDeadline >= 0) {
        std::printf(", %5.1f MiB at the deadline; CPU %6.2f s by the deadline (%5.1f %% of a "
                    "core), %6.2f s in all; exit %.3f s after the deadline%s",
                    atDeadline.residentMiB, cpuAtDeadline, cpuAtDeadline / seconds * 100, cpuAtExit,
                    toExit, killed ? " (killed 30 s after it)" : "");
    } else {
        std::printf(", %5.1f MiB last read; CPU %6.2f s in all (%5.1f %% of a core); ended by "
                    "itself %.3f s after its start, before the deadline",
                    last.residentMiB, cpuAtExit, cpuAtExit / afterStart * 100, afterStart);
    }
    std::printf("; dropped %s (notice on stderr: %s); offered %.0f MiB by the deadline; "
                "status %d%s%s\n",
                dropped.c_str(), notice.c_str(), offeredMiB,
                WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status),
                stoppedBy == "none" ? "" : ", stopped by ",
                stoppedBy == "none" ? "" : stoppedBy.c_str());
    if (run.name == "window") {
        std::istringstream lines(output);
        std::string line;
        while (std::getline(lines, line)) {
            std::printf("         %s\n", line.c_str());
        }
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc >= 3 && std::string(argv[1]) == "--window") {
        return WindowListening(argc, argv, argv[2]);
    }
    const std::chrono::seconds span(argc > 1 ? std::atoi(argv[1]) : 30);
    void* shared =
        ::mmap(nullptr, sizeof(Offered), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* offered = new (shared) Offered;
    std::string device;
    int port = 0;
    const pid_t flood = StartFlood(*offered, device, port);
    if (flood < 0) {
        std::fprintf(stderr, "the flood did not start\n");
        return 1;
    }
    const std::string cli = TARVEL_CLI_PROGRAM;
    const std::string self = "/proc/self/exe";
    char selfPath[4096] = {};
    [[maybe_unused]] const auto length = ::readlink(self.c_str(), selfPath, sizeof selfPath - 1);
    const std::string tcp = "tcp://127.0.0.1:" + std::to_string(port);
    const std::string seconds = std::to_string(span.count());
    std::printf("flood: %s and %s; %lld s per program; Modbus RTU 9600 8N1\n", device.c_str(),
                tcp.c_str(), static_cast<long long>(span.count()));
    for (const auto& [portName, portDevice, counter] :
         {std::tuple<std::string, std::string, const std::atomic<std::uint64_t>*>{"pty", device,
                                                                                  &offered->pty},
          {"tcp", tcp, &offered->tcp}}) {
        const std::vector<std::string> line = {"--port",     portDevice, "--protocol",
                                               "modbus-rtu", "--baud",   "9600"};
        Run listen{"listen", {cli, "listen"}, true, false};
        listen.arguments.insert(listen.arguments.end(), line.begin(), line.end());
        listen.arguments.insert(listen.arguments.end(), {"--duration", seconds, "--json"});
        Run test{"test", {cli, "test"}, false, false};
        test.arguments.insert(test.arguments.end(), line.begin(), line.end());
        test.arguments.insert(test.arguments.end(), {"--addresses", "1,2", "--json"});
        Run interrupted = test;
        interrupted.name = "test^C";
        interrupted.percentOfSpan = 33;
        const Run window{"window", {selfPath, "--window", portDevice}, false, true};
        for (const Run& run : {listen, test, interrupted, window}) {
            Measure(run, portName, span, *counter);
        }
    }
    ::kill(flood, SIGKILL);
    ::waitpid(flood, nullptr, 0);
    return 0;
}
