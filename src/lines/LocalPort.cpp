// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/LocalPort.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <QMetaObject>
#include <QSerialPort>
#include <QTimer>
#include <utility>

#include "lines/PortPermissions.h"
#include "lines/PseudoTerminals.h"

namespace tarvel {

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

// How often the port's thread looks for a device that has gone without a word (a
// pseudo-terminal whose far end closed says so only when asked).
constexpr std::chrono::milliseconds kHangUpCheck(250);

}  // namespace

// The QSerialPort side of the line, on the port's thread. Everything here runs there.
class LocalPort::Port final : public QObject {
public:
    Port(LocalPort& owner, TransportLink& link) : owner_(owner), link_(link) {
        drainWatch_.setSingleShot(true);
        drainWatch_.setTimerType(Qt::PreciseTimer);
        connect(&serial_, &QSerialPort::readyRead, this, &Port::Take);
        connect(&serial_, &QSerialPort::bytesWritten, this, [this] {
            owner_.portBuffered_ = static_cast<int>(serial_.bytesToWrite());
            if (link_.outputWanted) {
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
            return OpenFailureText(device, serial_.error() == QSerialPort::PermissionError,
                                   serial_.errorString().toStdString());
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
        owner_.rs485On_ = rs485.has_value();
        owner_.handle_ = serial_.handle();
        link_.open = true;
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
        // Not while the program's thread asks the driver about it.
        std::lock_guard closing(owner_.descriptor_);
        link_.open = false;
        owner_.handle_ = -1;
        owner_.rs485On_ = false;
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
        owner_.portBuffered_ = 0;
        owner_.drainWatched_ = false;
    }

    void Write(const QByteArray& bytes) {
        if (serial_.isOpen()) {
            std::string_view text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            // A request fits the driver's queue: handed to it here it goes out at once, without
            // a turn of this thread's event loop. Only behind nothing of the port's own buffer,
            // so that the characters keep their order.
            if (serial_.bytesToWrite() == 0) {
                const ssize_t written = ::write(serial_.handle(), text.data(), text.size());
                if (written > 0) {
                    text.remove_prefix(static_cast<std::size_t>(written));
                }
            }
            if (!text.empty()) {
                serial_.write(text.data(), static_cast<qint64>(text.size()));
            }
            owner_.portBuffered_ = static_cast<int>(serial_.bytesToWrite());
        }
        // Counted in the driver's queue or as buffered before it stops being counted as handed
        // over: the output count never dips below what is really still to go.
        owner_.handedOver_ -= static_cast<int>(bytes.size());
        // What went to the driver here brings no word from the port: a wait that counted it as
        // handed over hears that it moved.
        if (link_.outputWanted) {
            WatchDrain();
            TellOutputMoved();
        }
    }

    void LowerRequestToSend() {
        int bits = TIOCM_RTS;
        // A pseudo-terminal has no RTS and refuses; there is nothing to lower there.
        if (serial_.isOpen()) {
            ::ioctl(serial_.handle(), TIOCMBIC, &bits);
        }
    }

    // The driver says nothing when its queue runs empty: look again when it should have.
    void WatchDrain() {
        const int queued = serial_.isOpen() ? DriverOutputQueue(serial_.handle()) : 0;
        if (queued <= 0) {
            drainWatch_.stop();
            owner_.drainWatched_ = false;
            TellOutputMoved();
            return;
        }
        owner_.drainWatched_ = true;
        drainWatch_.start(std::chrono::ceil<std::chrono::milliseconds>(characterTime_ * queued) +
                          std::chrono::milliseconds(1));
    }

private:
    void RestoreRs485() {
        Rs485Ioctl driver(serial_.handle());
        rs485Switch_.Restore(driver);
    }

    void TellOutputMoved() { link_.TellOutputMoved(); }

    void Take() {
        const QByteArray bytes = serial_.readAll();
        link_.Receive(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
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
        link_.Lose(serial_.portName().toStdString() + " was lost: " + reason);
        Close();
        link_.PostLoss();
    }

    LocalPort& owner_;
    TransportLink& link_;
    QSerialPort serial_{this};
    QTimer drainWatch_{this};
    QTimer hangUpCheck_{this};
    Duration characterTime_ = CharacterTime(LineSettings{});
    bool pseudoTerminal_ = false;
    std::uint64_t deviceNumber_ = 0;
    Rs485Switch rs485Switch_;
};

LocalPort::LocalPort(TransportLink& link)
    : link_(link), port_(std::make_unique<Port>(*this, link)) {
    thread_.setObjectName("serial line");
    port_->moveToThread(&thread_);
    thread_.start(QThread::TimeCriticalPriority);
}

LocalPort::~LocalPort() {
    OnPortThread([this] { port_->Close(); });
    thread_.quit();
    thread_.wait();
}

template <typename Call>
void LocalPort::OnPortThread(Call call) {
    QMetaObject::invokeMethod(port_.get(), std::move(call), Qt::BlockingQueuedConnection);
}

std::string LocalPort::Open(const std::string& device, const LineSettings& settings) {
    std::string failure;
    OnPortThread([&] { failure = port_->Open(device, settings, rs485_); });
    if (failure.empty()) {
        openedRs485_ = rs485_;
    }
    return failure;
}

std::string LocalPort::Apply(const LineSettings& settings) {
    std::string failure;
    OnPortThread([&] { failure = port_->Apply(settings); });
    return failure;
}

void LocalPort::Close() {
    OnPortThread([this] { port_->Close(); });
}

void LocalPort::Write(std::string_view text) {
    QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    handedOver_ += static_cast<int>(bytes.size());
    QMetaObject::invokeMethod(
        port_.get(), [this, bytes] { port_->Write(bytes); }, Qt::QueuedConnection);
}

int LocalPort::Unsent() {
    // Counted in the order the characters travel, so that none is missed between two counts.
    const int handedOver = handedOver_;
    const int portBuffered = portBuffered_;
    int driverQueue = 0;
    {
        // TIOCOUTQ only reads the driver's count: safe beside the port's thread, as long as the
        // descriptor is not closed meanwhile.
        std::lock_guard asking(descriptor_);
        driverQueue = DriverOutputQueue(handle_);
    }
    if (driverQueue > 0 && !drainWatched_.exchange(true)) {
        QMetaObject::invokeMethod(
            port_.get(), [this] { port_->WatchDrain(); }, Qt::QueuedConnection);
    }
    return handedOver + portBuffered + driverQueue;
}

void LocalPort::LowerRequestToSend() {
    OnPortThread([this] { port_->LowerRequestToSend(); });
}

void LocalPort::Diagnose(LineDiagnostics& report) const {
    if (rs485On_) {
        report.rs485 = openedRs485_;
    }
#ifdef TIOCGICOUNT
    // A UART or a USB adapter answers; a pseudo-terminal refuses, and so says it keeps no counts.
    // TIOCGICOUNT only reads the driver's counts: safe beside the port's thread, as long as the
    // descriptor is not closed meanwhile.
    std::lock_guard asking(descriptor_);
    const int handle = handle_;
    serial_icounter_struct counts{};
    if (handle >= 0 && ::ioctl(handle, TIOCGICOUNT, &counts) == 0) {
        report.uart = UartErrorCounts{counts.frame, counts.parity, counts.overrun, counts.brk};
    }
#endif
}

}  // namespace tarvel
