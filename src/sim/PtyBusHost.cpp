// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/PtyBusHost.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "lines/LineSettings.h"
#include "lines/PseudoTerminals.h"

namespace tarvel {
namespace {

Instant Now() { return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now()); }

int BaudOf(speed_t speed) {
    static const std::map<speed_t, int> kSpeeds = {
        {B50, 50},       {B75, 75},         {B110, 110},      {B134, 134},     {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},      {B1200, 1200},   {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},    {B19200, 19200}, {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    const auto found = kSpeeds.find(speed);
    return found == kSpeeds.end() ? 9600 : found->second;
}

}  // namespace

LineSettings TerminalSettings(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return LineSettings{};
    }
    LineSettings line;
    line.baud = BaudOf(::cfgetospeed(&settings));
    switch (settings.c_cflag & CSIZE) {
        case CS5: line.dataBits = 5; break;
        case CS6: line.dataBits = 6; break;
        case CS7: line.dataBits = 7; break;
        default: line.dataBits = 8; break;
    }
    line.parity = (settings.c_cflag & PARENB) == 0   ? Parity::None
                  : (settings.c_cflag & PARODD) != 0 ? Parity::Odd
                                                     : Parity::Even;
    line.stopBits = (settings.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return line;
}

Duration TerminalCharacterTime(int fd) { return CharacterTime(TerminalSettings(fd)); }

std::unique_ptr<PtyBusHost> PtyBusHost::Start(SimulatedBus bus, std::string& error) {
    return Open(std::move(bus), std::nullopt, error);
}

std::unique_ptr<PtyBusHost> PtyBusHost::StartMaster(SimulatedMaster master, std::string& error) {
    return Open(SimulatedBus({}, 0.0, 0), std::move(master), error);
}

std::unique_ptr<PtyBusHost> PtyBusHost::Open(SimulatedBus bus,
                                             std::optional<SimulatedMaster> master,
                                             std::string& error) {
    int masterFd = -1;
    int slave = -1;
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    // Raw from the start: the settings a port restores when it closes must not echo.
    if (::openpty(&masterFd, &slave, name, &raw, nullptr) != 0) {
        error = std::string("no pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        error = std::string("no pipe: ") + std::strerror(errno);
        ::close(masterFd);
        ::close(slave);
        return nullptr;
    }
    ::fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    if (master) {
        // A full pty must never hold up the bus: what does not fit is lost, as on a wire.
        ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    }
    return std::unique_ptr<PtyBusHost>(
        new PtyBusHost(std::move(bus), std::move(master), masterFd, slave, wake[0], wake[1], name));
}

PtyBusHost::PtyBusHost(SimulatedBus bus, std::optional<SimulatedMaster> master, int masterFd,
                       int slave, int wakeRead, int wakeWrite, std::string path)
    : bus_(std::move(bus)),
      busMaster_(std::move(master)),
      master_(masterFd),
      slave_(slave),
      wakeRead_(wakeRead),
      wakeWrite_(wakeWrite),
      path_(std::move(path)) {
    struct stat status {};
    if (::fstat(slave_, &status) == 0) {
        slaveDevice_ = status.st_rdev;
    }
    if (busMaster_) {
        // The master side shows a hang-up while no one else has the device open (see RunMaster).
        ::close(slave_);
        slave_ = -1;
    }
    thread_ = std::thread([this] {
        // Each character goes on the wire at its time: the 50 us a thread's waits may otherwise
        // overrun by, to spare the host wake-ups, would make every answer late.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        if (busMaster_) {
            RunMaster();
        } else {
            Run();
        }
    });
}

PtyBusHost::~PtyBusHost() {
    const char stop = 'x';
    [[maybe_unused]] const auto written = ::write(wakeWrite_, &stop, 1);
    thread_.join();
    for (const int fd : {master_, slave_, wakeRead_, wakeWrite_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::vector<TimedByte> PtyBusHost::Received() const {
    const std::lock_guard lock(receivedMutex_);
    return received_;
}

std::vector<MasterPoll> PtyBusHost::MasterLog() const {
    const std::lock_guard lock(receivedMutex_);
    return masterLog_;
}

std::vector<MasterPoll> PtyBusHost::TakeMasterLog() {
    const std::lock_guard lock(receivedMutex_);
    return std::exchange(masterLog_, {});
}

void PtyBusHost::Record(Instant arrived, const std::vector<std::uint8_t>& bytes) {
    const std::lock_guard lock(receivedMutex_);
    for (const std::uint8_t byte : bytes) {
        received_.push_back({arrived, byte});
    }
}

void PtyBusHost::RunMaster() {
    std::vector<TimedByte> outgoing;
    std::size_t next = 0;
    std::optional<MasterPoll> onWire;
    while (true) {
        // The master hangs up while nobody has the device open: the bus plays to a reader
        // only, so that what it logs is what a reader could see, and nothing piles up unread.
        pollfd probe{master_, POLLIN, 0};
        ::poll(&probe, 1, 0);
        if ((probe.revents & POLLHUP) != 0) {
            outgoing.clear();
            next = 0;
            onWire.reset();
            pollfd wake{wakeRead_, POLLIN, 0};
            if (::poll(&wake, 1, 10) > 0) {
                return;
            }
            continue;
        }
        if (next == outgoing.size()) {
            if (onWire) {
                const std::lock_guard lock(receivedMutex_);
                // Whoever never takes the log (a listen on the simulated line) keeps only the
                // latest polls: a day of them must not fill the memory.
                if (masterLog_.size() >= kMasterLogLimit) {
                    masterLog_.erase(masterLog_.begin(), masterLog_.begin() + kMasterLogLimit / 2);
                }
                masterLog_.push_back(std::move(*onWire));
            }
            outgoing = busMaster_->NextPoll(std::max(Now(), busMaster_->ReadyAt()));
            next = 0;
            if (outgoing.empty()) {
                return;  // a master of no controllers
            }
            onWire = busMaster_->Log().back();
            busMaster_->ClearLog();
        }
        const Duration left = std::max(Duration::zero(), outgoing[next].end - Now());
        timespec timeout{};
        timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
        pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLHUP) != 0) {
            continue;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint8_t chunk[512];
            const auto count = ::read(master_, chunk, sizeof chunk);
            if (count > 0) {
                Record(Now(), std::vector<std::uint8_t>(chunk, chunk + count));
            }
        }
        while (next < outgoing.size() && outgoing[next].end <= Now()) {
            [[maybe_unused]] const auto written = ::write(master_, &outgoing[next].byte, 1);
            ++next;
        }
    }
}

void PtyBusHost::Run() {
    std::multimap<Instant, std::uint8_t> outgoing;
    Instant hostWireFreeAt{};
    while (true) {
        timespec timeout{};
        timespec* wait = nullptr;
        if (!outgoing.empty()) {
            const Duration left = std::max(Duration::zero(), outgoing.begin()->first - Now());
            timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
            wait = &timeout;
        }
        pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::ppoll(fds, 2, wait, nullptr) < 0 && errno != EINTR) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint8_t chunk[512];
            const auto count = ::read(master_, chunk, sizeof chunk);
            const Instant arrived = Now();
            // The pty keeps the speed and the stop bits the program set; a line of this process
            // has noted the parity and data bits it cannot keep. A program elsewhere leaves the
            // framing unknown, and the controllers take it for their own.
            LineSettings host = TerminalSettings(slave_);
            std::optional<Framing> hostFraming;
            if (const auto chosen = PseudoTerminalSettings(slaveDevice_)) {
                hostFraming = FramingOf(*chosen);
                host.dataBits = chosen->dataBits;
                host.parity = chosen->parity;
            }
            // The program's transmitter would have sent these one after the other.
            const Duration characterTime = CharacterTime(host);
            for (ssize_t i = 0; i < count; ++i) {
                hostWireFreeAt = std::max(hostWireFreeAt, arrived) + characterTime;
                {
                    const std::lock_guard lock(receivedMutex_);
                    received_.push_back({arrived, chunk[i]});
                }
                for (const TimedByte& answer :
                     bus_.HostCharacter(chunk[i], hostWireFreeAt, characterTime,
                                        HostWire{host.baud, hostFraming})) {
                    outgoing.emplace(answer.end, answer.byte);
                }
            }
        }
        while (!outgoing.empty() && outgoing.begin()->first <= Now()) {
            [[maybe_unused]] const auto written = ::write(master_, &outgoing.begin()->second, 1);
            outgoing.erase(outgoing.begin());
        }
    }
}

}  // namespace tarvel
