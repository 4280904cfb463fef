#include "platform/QtSerialLine.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>

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

QtSerialLine::QtSerialLine(PortMap ports) : ports_(std::move(ports)) {
    drainWatch_.setSingleShot(true);
    drainWatch_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] { input_.Notify(); });
    QObject::connect(&port_, &QSerialPort::bytesWritten, &port_, [this] { output_.Notify(); });
    QObject::connect(&drainWatch_, &QTimer::timeout, &port_, [this] {
        WatchDriverQueue();
        output_.Notify();
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
        // With data waiting this returns at once, after moving it into the port's buffer.
        port_.waitForReadyRead(0);
    }
}

std::string QtSerialLine::Input() {
    if (!port_.isOpen()) {
        return {};
    }
    PullFromDriver();
    const QByteArray bytes = inputLen_ > 0 ? port_.read(inputLen_) : port_.readAll();
    return bytes.toStdString();
}

int QtSerialLine::InBufferCount() {
    if (!port_.isOpen()) {
        return 0;
    }
    PullFromDriver();
    return static_cast<int>(port_.bytesAvailable());
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
    drainWatch_.stop();
    NotifyLoss();
}

}  // namespace tarvel
