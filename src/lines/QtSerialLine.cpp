// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/QtSerialLine.h"

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/major.h>
#include <linux/serial.h>
#endif

#include <QMetaObject>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "lines/NetworkPort.h"
#include "platform/Waits.h"

namespace tarvel {

std::string PermissionDeniedText(std::string_view device, std::string_view group,
                                 GroupMembership membership) {
    const std::string path(device);
    const std::string quoted = "\"" + std::string(group) + "\"";
    const std::string command = "sudo adduser $USER " + std::string(group);
    std::string text = path + ": Permission denied. The device belongs to the group " + quoted;
    if (group == "root") {
        // Nobody should join root's group to reach a port: the device wants another group.
        return text + ", so root alone may open it: a udev rule must give it a group such as " +
               "\"dialout\", your user must be a member of that and log in again (sudo " +
               "adduser $USER dialout).";
    }
    switch (membership) {
        case GroupMembership::NotMember:
            return text + ": your user must be a member of it and log in again. To make it one: " +
                   command;
        case GroupMembership::MemberFromNextLogin:
            return text + ": your user is a member of it, but became one after this session " +
                   "began; log out and log in again for it to count (a user is made a member " +
                   "with " + command + ").";
        case GroupMembership::InSession: break;
    }
    return text + ", which this session is a member of already, yet the device does not let " +
           "its group read and write it (ls -l " + path + " shows who may).";
}

std::optional<std::uint32_t> OwningGroup(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return status.st_gid;
}

std::optional<std::string> OwningGroupName(const std::string& path) {
    const std::optional<std::uint32_t> gid = OwningGroup(path);
    if (!gid) {
        return std::nullopt;
    }
    // Reentrant: the port's thread asks while the program's thread may ask too.
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    while (::getgrgid_r(*gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    return found ? std::string(found->gr_name) : std::to_string(*gid);
}

GroupMembership MembershipOf(std::uint32_t gid) {
    std::vector<gid_t> session(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    session.resize(static_cast<std::size_t>(
        std::max(0, ::getgroups(static_cast<int>(session.size()), session.data()))));
    if (::getegid() == gid || std::find(session.begin(), session.end(), gid) != session.end()) {
        return GroupMembership::InSession;
    }
    // The group database says what the next login will have.
    std::vector<char> buffer(4096);
    passwd user{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &user, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    if (!found) {
        return GroupMembership::NotMember;
    }
    int count = 32;
    std::vector<gid_t> atLogin(static_cast<std::size_t>(count));
    while (::getgrouplist(user.pw_name, user.pw_gid, atLogin.data(), &count) < 0) {
        atLogin.resize(static_cast<std::size_t>(count));
    }
    atLogin.resize(static_cast<std::size_t>(count));
    return std::find(atLogin.begin(), atLogin.end(), gid) != atLogin.end()
               ? GroupMembership::MemberFromNextLogin
               : GroupMembership::NotMember;
}

std::string ApplyLineSettings(SettingsTarget& port, const LineSettings& settings,
                              bool pseudoTerminal) {
    using Setting = SettingsTarget::Setting;
    for (const Setting setting :
         {Setting::Speed, Setting::DataBits, Setting::Parity, Setting::StopBits}) {
        // Linux forces eight data bits and no parity on a pty, and the port, reading back a
        // frame other than the one asked for, would refuse the setting.
        const bool carried = setting != Setting::DataBits && setting != Setting::Parity;
        if ((carried || !pseudoTerminal) && !port.Set(setting, settings)) {
            return port.ErrorText();
        }
    }
    return {};
}

namespace {

QSerialPort::Parity ToQt(Parity parity) {
    switch (parity) {
        case Parity::Even: return QSerialPort::EvenParity;
        case Parity::Odd: return QSerialPort::OddParity;
        case Parity::None: break;
    }
    return QSerialPort::NoParity;
}

int DriverOutputQueue(int handle) {
    int queued = 0;
    if (handle < 0 || ::ioctl(handle, TIOCOUTQ, &queued) != 0) {
        return 0;
    }
    return queued;
}

class QtSettingsTarget final : public SettingsTarget {
public:
    explicit QtSettingsTarget(QSerialPort& serial) : serial_(serial) {}
    bool Set(Setting setting, const LineSettings& settings) override {
        switch (setting) {
            case Setting::Speed: return serial_.setBaudRate(settings.baud);
            case Setting::DataBits:
                return serial_.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits));
            case Setting::Parity: return serial_.setParity(ToQt(settings.parity));
            case Setting::StopBits:
                return serial_.setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop
                                                                  : QSerialPort::OneStop);
        }
        return false;
    }
    std::string ErrorText() const override {
        return serial_.portName().toStdString() +
               " refuses the settings: " + serial_.errorString().toStdString();
    }

private:
    QSerialPort& serial_;
};

// Why `device` did not open. Qt says "permission" also for a port another program holds; only
// a device the user may not read and write gets the word about its group.
std::string OpenFailureText(const std::string& device, QSerialPort::SerialPortError error,
                            const std::string& reason) {
    if (error == QSerialPort::PermissionError && ::access(device.c_str(), R_OK | W_OK) != 0 &&
        errno == EACCES) {
        const std::optional<std::uint32_t> gid = OwningGroup(device);
        const std::optional<std::string> name = OwningGroupName(device);
        if (gid && name) {
            return PermissionDeniedText(device, *name, MembershipOf(*gid));
        }
    }
    return device + ": " + reason;
}

// How often the port's thread looks for a device that has gone without a word (a
// pseudo-terminal whose far end closed says so only when asked).
constexpr std::chrono::milliseconds kHangUpCheck(250);

}  // namespace

// The QSerialPort side of the line, on the port's thread. Everything here runs there.
class QtSerialLine::Port final : public QObject {
public:
    Port(QtSerialLine& line, const Clock& clock) : line_(line), clock_(clock) {
        drainWatch_.setSingleShot(true);
        drainWatch_.setTimerType(Qt::PreciseTimer);
        connect(&serial_, &QSerialPort::readyRead, this, &Port::Take);
        connect(&serial_, &QSerialPort::bytesWritten, this, [this] {
            line_.portBuffered_ = static_cast<int>(serial_.bytesToWrite());
            if (line_.outputWanted_) {
                WatchDrain();
                TellOutputMoved();
            }
        });
        connect(&drainWatch_, &QTimer::timeout, this, [this] {
            WatchDrain();
            TellOutputMoved();
        });
        connect(&serial_, &QSerialPort::errorOccurred, this,
                [this](QSerialPort::SerialPortError error) {
                    if (error == QSerialPort::ResourceError && serial_.isOpen()) {
                        Lose(serial_.errorString().toStdString());
                    }
                });
        connect(&hangUpCheck_, &QTimer::timeout, this, &Port::CheckHangUp);
    }

    // Each returns the reason of a failure, empty on success.
    std::string Open(const std::string& device, const LineSettings& settings,
                     const std::optional<Rs485Mode>& rs485) {
        serial_.setPortName(QString::fromStdString(device));
        if (!serial_.open(QIODevice::ReadWrite)) {
            return OpenFailureText(device, serial_.error(), serial_.errorString().toStdString());
        }
        struct stat status {};
        pseudoTerminal_ = ::fstat(serial_.handle(), &status) == 0 && S_ISCHR(status.st_mode) &&
                          IsPseudoTerminalSlave(status.st_rdev);
        deviceNumber_ = status.st_rdev;
        if (rs485) {
            // Switched before anything is written: a request sent with the transmitter off
            // would never reach the line.
            Rs485Ioctl driver(serial_.handle());
            if (const auto refused = rs485Switch_.Enable(driver, *rs485, device)) {
                serial_.close();
                return *refused;
            }
        }
        if (std::string failure = Apply(settings); !failure.empty()) {
            RestoreRs485();
            serial_.close();
            return failure;
        }
        line_.handle_ = serial_.handle();
        line_.open_ = true;
        hangUpCheck_.start(kHangUpCheck);
        return {};
    }

    std::string Apply(const LineSettings& settings) {
        QtSettingsTarget target(serial_);
        if (std::string failure = ApplyLineSettings(target, settings, pseudoTerminal_);
            !failure.empty()) {
            return failure;
        }
        if (pseudoTerminal_) {
            NotePseudoTerminalSettings(deviceNumber_, settings);
        }
        characterTime_ = CharacterTime(settings);
        return {};
    }

    void Close() {
        // Not while the program's thread writes to the descriptor itself.
        std::lock_guard writing(line_.directWrite_);
        line_.open_ = false;
        line_.handle_ = -1;
        hangUpCheck_.stop();
        drainWatch_.stop();
        if (serial_.isOpen()) {
            RestoreRs485();
            serial_.close();
        }
        if (pseudoTerminal_) {
            ForgetPseudoTerminalSettings(deviceNumber_);
            pseudoTerminal_ = false;
        }
        line_.portBuffered_ = 0;
        line_.drainWatched_ = false;
    }

    // What the program's thread could not hand to the driver itself.
    void Write(const QByteArray& bytes) {
        if (serial_.isOpen()) {
            serial_.write(bytes);
            line_.portBuffered_ = static_cast<int>(serial_.bytesToWrite());
        }
        // Counted as buffered before it stops being counted as handed over: the output count
        // never dips below what is really still to go.
        line_.handedOver_ -= static_cast<int>(bytes.size());
    }

    // The driver says nothing when its queue runs empty: look again when it should have.
    void WatchDrain() {
        const int queued = serial_.isOpen() ? DriverOutputQueue(serial_.handle()) : 0;
        if (queued <= 0) {
            drainWatch_.stop();
            line_.drainWatched_ = false;
            TellOutputMoved();
            return;
        }
        line_.drainWatched_ = true;
        drainWatch_.start(std::chrono::ceil<std::chrono::milliseconds>(characterTime_ * queued) +
                          std::chrono::milliseconds(1));
    }

private:
    void RestoreRs485() {
        Rs485Ioctl driver(serial_.handle());
        rs485Switch_.Restore(driver);
    }

    // Only a wait that found output still to go wants to hear that it moved.
    void TellOutputMoved() {
        if (line_.outputWanted_.exchange(false)) {
            line_.PostOutputActivity();
        }
    }

    void Take() {
        const QByteArray bytes = serial_.readAll();
        if (bytes.isEmpty()) {
            return;
        }
        std::size_t waiting = 0;
        {
            // Stamped under the lock: whoever reads the clock and then counts sees every
            // character stamped before that reading.
            std::lock_guard lock(line_.mutex_);
            const Instant now = clock_.Now();
            line_.received_.Append(
                std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), now);
            waiting = static_cast<std::size_t>(line_.received_.Count());
        }
        if (waiting >= static_cast<std::size_t>(line_.inputThreshold_.load())) {
            line_.PostInputActivity();
        }
    }

    void CheckHangUp() {
        if (!serial_.isOpen()) {
            return;
        }
        pollfd device{serial_.handle(), POLLIN, 0};
        if (::poll(&device, 1, 0) == 1 && (device.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            Lose(device.revents & POLLHUP ? "the device hung up" : "the device reports an error");
        }
    }

    void Lose(const std::string& reason) {
        {
            // The reason is there before the line reads as closed.
            std::lock_guard lock(line_.mutex_);
            line_.lastError_ = serial_.portName().toStdString() + " was lost: " + reason;
            line_.received_.Clear();
        }
        Close();
        line_.PostInputActivity();
        line_.PostOutputActivity();
    }

    QtSerialLine& line_;
    const Clock& clock_;
    QSerialPort serial_{this};
    QTimer drainWatch_{this};
    QTimer hangUpCheck_{this};
    Duration characterTime_ = CharacterTime(LineSettings{});
    bool pseudoTerminal_ = false;
    std::uint64_t deviceNumber_ = 0;
    Rs485Switch rs485Switch_;
};

QtSerialLine::QtSerialLine(const PortMap& ports, const Clock& clock)
    : ports_(ports),
      port_(std::make_unique<Port>(*this, clock)),
      network_(std::make_unique<Network>(*this, clock)) {
    thread_.setObjectName("serial line");
    port_->moveToThread(&thread_);
    thread_.start(QThread::TimeCriticalPriority);
}

QtSerialLine::~QtSerialLine() {
    // The connection's threads post to here_ until they are gone.
    network_.reset();
    OnPortThread([this] { port_->Close(); });
    thread_.quit();
    thread_.wait();
    // Nothing can post to the program's thread any more; what was posted goes with here_.
}

template <typename Call>
void QtSerialLine::OnPortThread(Call call) {
    QMetaObject::invokeMethod(port_.get(), std::move(call), Qt::BlockingQueuedConnection);
}

bool QtSerialLine::Fail(std::string reason) {
    std::lock_guard lock(mutex_);
    lastError_ = std::move(reason);
    return false;
}

std::string QtSerialLine::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

void QtSerialLine::LowerRequestToSend() {
    std::lock_guard writing(directWrite_);
    int bits = TIOCM_RTS;
    // A pseudo-terminal has no RTS and refuses; there is nothing to lower there.
    if (handle_ >= 0) {
        ::ioctl(handle_, TIOCMBIC, &bits);
    }
}

std::optional<UartErrorCounts> QtSerialLine::ErrorCounts() const {
#ifdef TIOCGICOUNT
    // A UART or a USB adapter answers; a pseudo-terminal refuses, and so says it keeps no counts.
    std::lock_guard writing(directWrite_);
    const int handle = handle_;
    serial_icounter_struct counts{};
    if (handle < 0 || ::ioctl(handle, TIOCGICOUNT, &counts) != 0) {
        return std::nullopt;
    }
    return UartErrorCounts{counts.frame, counts.parity, counts.overrun, counts.brk};
#else
    return std::nullopt;
#endif
}

bool QtSerialLine::SetCommPort(std::int16_t number) {
    if (open_) {
        return Fail("the port must be closed before its number changes");
    }
    if (!ports_.DeviceFor(number)) {
        return Fail(ports_.NotAttached(number));
    }
    number_ = number;
    return true;
}

bool QtSerialLine::SetSettings(std::string_view settingsText) {
    const auto settings = ParseSettingsText(settingsText);
    if (!settings) {
        return Fail("the settings \"" + std::string(settingsText) + "\" are not valid");
    }
    settings_ = *settings;
    if (!open_) {
        return true;
    }
    if (networked_) {
        const std::string refused = network_->Apply(settings_);
        return refused.empty() || Fail(refused);
    }
    std::string failure;
    OnPortThread([&] { failure = port_->Apply(settings_); });
    return failure.empty() || Fail(failure);
}

bool QtSerialLine::SetInputLen(std::int16_t length) {
    if (length < 0) {
        return Fail("the input length cannot be negative");
    }
    inputLen_ = length;
    return true;
}

bool QtSerialLine::SetPortOpen(bool open) {
    if (open == open_) {
        return true;
    }
    if (!open) {
        if (networked_) {
            open_ = false;
            network_->Close();
        } else {
            OnPortThread([this] { port_->Close(); });
        }
        std::lock_guard lock(mutex_);
        received_.Clear();
        return true;
    }
    const std::optional<std::string> mapped = ports_.DeviceFor(number_);
    if (!mapped) {
        return Fail(ports_.NotAttached(number_));
    }
    const std::string device = *mapped;
    {
        std::lock_guard lock(mutex_);
        received_.Clear();
    }
    if (const std::optional<std::string> problem = NetworkProblem(device)) {
        if (!problem->empty()) {
            return Fail(*problem);
        }
        // A connection that is not there yet holds this thread; OpenAsync does not.
        return FinishNetworkOpen(network_->Open(*ParseNetworkAddress(device), settings_));
    }
    if (networked_.exchange(false)) {
        network_->Close();  // a connection that was lost is let go of here
    }
    std::string failure;
    OnPortThread([&] { failure = port_->Open(device, settings_, rs485_); });
    if (!failure.empty()) {
        return Fail(failure);
    }
    std::lock_guard lock(mutex_);
    lastError_.clear();
    return true;
}

std::optional<std::string> QtSerialLine::NetworkProblem(const std::string& device) const {
    if (!IsNetworkDevice(device)) {
        return std::nullopt;
    }
    return ParseNetworkAddress(device) ? std::string() : NetworkAddressProblem(device);
}

bool QtSerialLine::FinishNetworkOpen(std::string failure) {
    networked_ = true;
    if (!failure.empty()) {
        network_->Close();
        return Fail(std::move(failure));
    }
    open_ = true;
    if (network_->Lost()) {
        // Gone between its opening and now: the reason is there already.
        open_ = false;
        return false;
    }
    std::lock_guard lock(mutex_);
    lastError_.clear();
    return true;
}

QCoro::Task<bool> QtSerialLine::OpenAsync(Scheduler& scheduler) {
    const std::optional<std::string> mapped = ports_.DeviceFor(number_);
    const std::optional<std::string> problem =
        mapped ? NetworkProblem(*mapped) : std::optional<std::string>();
    if (open_ || !problem || !problem->empty()) {
        co_return SetPortOpen(true);
    }
    {
        std::lock_guard lock(mutex_);
        received_.Clear();
    }
    // Connected on another thread: the window goes on meanwhile. Until it is done the line
    // reads as closed, so nothing else touches the connection.
    Network* network = network_.get();
    const NetworkAddress address = *ParseNetworkAddress(*mapped);
    const LineSettings settings = settings_;
    // Named, not a temporary of the co_await: g++ 12 destroys such temporaries twice.
    std::function<std::string()> connect = [network, address, settings] {
        return network->Open(address, settings);
    };
    Aside<std::string> connecting(scheduler, std::move(connect));
    std::string failure = co_await connecting;
    co_return FinishNetworkOpen(std::move(failure));
}

std::optional<Duration> QtSerialLine::RoundTrip() const {
    return open_ && networked_ ? network_->RoundTrip() : std::nullopt;
}

void QtSerialLine::PurgeReceived() {
    if (open_ && networked_) {
        network_->PurgeReceived();
    }
}

void QtSerialLine::Output(std::string_view text) {
    if (!open_ || text.empty()) {
        return;
    }
    if (networked_) {
        network_->Write(text);
        return;
    }
    // A request fits the driver's queue: written from here it goes out at once, without waking
    // the port's thread. What the driver does not take, and anything queued before it, goes
    // through the port's thread in order.
    if (handedOver_ == 0 && portBuffered_ == 0) {
        std::lock_guard writing(directWrite_);
        const int handle = handle_;
        const ssize_t written = handle < 0 ? -1 : ::write(handle, text.data(), text.size());
        if (written > 0) {
            text.remove_prefix(static_cast<std::size_t>(written));
        }
        if (text.empty()) {
            return;
        }
    }
    QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    handedOver_ += static_cast<int>(bytes.size());
    QMetaObject::invokeMethod(
        port_.get(), [this, bytes] { port_->Write(bytes); }, Qt::QueuedConnection);
}

std::string QtSerialLine::Input() {
    return InputFirst(inputLen_ > 0 ? inputLen_ : std::numeric_limits<int>::max());
}

std::string QtSerialLine::InputFirst(int count) {
    std::lock_guard lock(mutex_);
    return received_.Take(count);
}

std::string QtSerialLine::Peek(int count) const {
    std::lock_guard lock(mutex_);
    return received_.Peek(count);
}

int QtSerialLine::InBufferCount() {
    std::lock_guard lock(mutex_);
    return received_.Count();
}

std::optional<Instant> QtSerialLine::ArrivalOf(int index) const {
    std::lock_guard lock(mutex_);
    return received_.ArrivalOf(index);
}

int QtSerialLine::OutBufferCount() {
    if (!open_) {
        return 0;
    }
    if (networked_) {
        outputWanted_ = true;
        const int unsent = network_->Unsent();
        if (unsent == 0) {
            outputWanted_ = false;
        }
        return unsent;
    }
    // Wanted before anything is counted, so that a move after the count is not missed; and
    // counted in the order the characters travel, so that none is missed between two counts.
    outputWanted_ = true;
    const int handedOver = handedOver_;
    const int portBuffered = portBuffered_;
    const int driverQueue = DriverOutputQueue(handle_);
    if (driverQueue > 0 && !drainWatched_.exchange(true)) {
        QMetaObject::invokeMethod(
            port_.get(), [this] { port_->WatchDrain(); }, Qt::QueuedConnection);
    }
    const int unsent = handedOver + portBuffered + driverQueue;
    if (unsent == 0) {
        outputWanted_ = false;
    }
    return unsent;
}

void QtSerialLine::PostInputActivity() {
    if (inputPosted_.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        &here_,
        [this] {
            inputPosted_ = false;
            input_.Notify();
        },
        Qt::QueuedConnection);
}

void QtSerialLine::PostOutputActivity() {
    if (outputPosted_.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        &here_,
        [this] {
            outputPosted_ = false;
            output_.Notify();
        },
        Qt::QueuedConnection);
}

}  // namespace tarvel
