#include "platform/QtSerialLine.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <utility>

namespace tarvel {
namespace {

QSerialPort::Parity ToQt(Parity parity) {
    switch (parity) {
        case Parity::Even: return QSerialPort::EvenParity;
        case Parity::Odd: return QSerialPort::OddParity;
        case Parity::None: break;
    }
    return QSerialPort::NoParity;
}

}  // namespace

QtSerialLine::QtSerialLine(PortMap ports, const Clock& clock)
    : ports_(std::move(ports)), clock_(clock) {
    drainWatch_.setSingleShot(true);
    drainWatch_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] {
        TakeFromPort();
        PostInputActivity();
    });
    QObject::connect(&port_, &QSerialPort::bytesWritten, &port_, [this] { PostOutputActivity(); });
    QObject::connect(&drainWatch_, &QTimer::timeout, &port_, [this] {
        WatchDriverQueue();
        PostOutputActivity();
    });
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError error) { OnPortError(error); });
}

QtSerialLine::~QtSerialLine() {
    if (port_.isOpen()) {
        port_.close();
    }
}

bool QtSerialLine::Fail(std::string reason) {
    lastError_ = std::move(reason);
    return false;
}

bool QtSerialLine::SetCommPort(std::int16_t number) {
    if (port_.isOpen()) {
        return Fail("the port must be closed before its number changes");
    }
    if (!ports_.DeviceFor(number)) {
        return Fail("COM" + std::to_string(number) + " is not a port of this host");
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
    return !port_.isOpen() || ApplySettings();
}

bool QtSerialLine::SetInputLen(std::int16_t length) {
    if (length < 0) {
        return Fail("the input length cannot be negative");
    }
    inputLen_ = length;
    return true;
}

bool QtSerialLine::ApplySettings() {
    const bool applied =
        port_.setBaudRate(settings_.baud) &&
        port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits)) &&
        port_.setParity(ToQt(settings_.parity)) &&
        port_.setStopBits(settings_.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    if (!applied) {
        return Fail(port_.portName().toStdString() +
                    " refuses the settings: " + port_.errorString().toStdString());
    }
    return true;
}

bool QtSerialLine::SetPortOpen(bool open) {
    if (!open) {
        if (port_.isOpen()) {
            port_.close();
        }
        received_.clear();
        arrivals_.clear();
        return true;
    }
    if (port_.isOpen()) {
        return true;
    }
    const std::string device = ports_.DeviceFor(number_).value_or("");
    port_.setPortName(QString::fromStdString(device));
    if (!port_.open(QIODevice::ReadWrite)) {
        return Fail(device + ": " + port_.errorString().toStdString());
    }
    if (!ApplySettings()) {
        port_.close();
        return false;
    }
    lastError_.clear();
    return true;
}

void QtSerialLine::Output(std::string_view text) {
    if (!port_.isOpen() || text.empty()) {
        return;
    }
    port_.write(text.data(), static_cast<qint64>(text.size()));
}

void QtSerialLine::PullFromDriver() {
    if (!port_.isOpen()) {
        return;
    }
    pollfd device{port_.handle(), POLLIN, 0};
    if (::poll(&device, 1, 0) != 1) {
        return;
    }
    // A device that has gone (a pseudo-terminal whose far end closed, an adapter pulled out)
    // may say so only here, when nothing else makes the port read.
    if ((device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        Lose(device.revents & POLLHUP ? "the device hung up" : "the device reports an error");
    } else if ((device.revents & POLLIN) != 0) {
        // With data waiting this returns at once, after moving it into the port's buffer (and
        // signalling readyRead from inside this call).
        port_.waitForReadyRead(0);
    }
    TakeFromPort();
}

void QtSerialLine::TakeFromPort() {
    if (!port_.isOpen() || port_.bytesAvailable() <= 0) {
        return;
    }
    const QByteArray bytes = port_.readAll();
    const Instant now = clock_.Now();
    received_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    arrivals_.insert(arrivals_.end(), static_cast<std::size_t>(bytes.size()), now);
}

std::string QtSerialLine::Input() {
    if (!port_.isOpen()) {
        return {};
    }
    PullFromDriver();
    const std::size_t taken = inputLen_ > 0
                                  ? std::min(received_.size(), static_cast<std::size_t>(inputLen_))
                                  : received_.size();
    std::string head = received_.substr(0, taken);
    received_.erase(0, taken);
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + static_cast<std::ptrdiff_t>(taken));
    return head;
}

int QtSerialLine::InBufferCount() {
    if (!port_.isOpen()) {
        return 0;
    }
    PullFromDriver();
    return static_cast<int>(received_.size());
}

std::optional<Instant> QtSerialLine::ArrivalOf(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= arrivals_.size()) {
        return std::nullopt;
    }
    return arrivals_[static_cast<std::size_t>(index)];
}

int QtSerialLine::DriverOutputQueue() const {
    int queued = 0;
    if (!port_.isOpen() || ::ioctl(port_.handle(), TIOCOUTQ, &queued) != 0) {
        return 0;
    }
    return queued;
}

int QtSerialLine::OutBufferCount() {
    if (!port_.isOpen()) {
        return 0;
    }
    const int driverQueue = DriverOutputQueue();
    if (driverQueue > 0 && !drainWatch_.isActive()) {
        WatchDriverQueue();
    }
    return static_cast<int>(port_.bytesToWrite()) + driverQueue;
}

void QtSerialLine::WatchDriverQueue() {
    // The driver says nothing when its queue runs empty: look again when it should have.
    const int queued = DriverOutputQueue();
    if (queued <= 0) {
        drainWatch_.stop();
        return;
    }
    const auto wireTime = CharacterTime(settings_) * queued;
    drainWatch_.start(std::chrono::ceil<std::chrono::milliseconds>(wireTime) +
                      std::chrono::milliseconds(1));
}

void QtSerialLine::OnPortError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::ResourceError && port_.isOpen()) {
        Lose(port_.errorString().toStdString());
    }
}

void QtSerialLine::Lose(const std::string& reason) {
    lastError_ = port_.portName().toStdString() + " was lost: " + reason;
    port_.close();
    received_.clear();
    arrivals_.clear();
    drainWatch_.stop();
    // Often found from inside InBufferCount or Input: the waits hear of it from the event loop.
    PostInputActivity();
    PostOutputActivity();
}

void QtSerialLine::PostInputActivity() {
    if (std::exchange(inputPosted_, true)) {
        return;
    }
    QMetaObject::invokeMethod(
        &port_,
        [this] {
            inputPosted_ = false;
            input_.Notify();
        },
        Qt::QueuedConnection);
}

void QtSerialLine::PostOutputActivity() {
    if (std::exchange(outputPosted_, true)) {
        return;
    }
    QMetaObject::invokeMethod(
        &port_,
        [this] {
            outputPosted_ = false;
            output_.Notify();
        },
        Qt::QueuedConnection);
}

}  // namespace tarvel
