#include "platform/QtSerialLine.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <QMetaObject>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <limits>
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

int DriverOutputQueue(int handle) {
    int queued = 0;
    if (handle < 0 || ::ioctl(handle, TIOCOUTQ, &queued) != 0) {
        return 0;
    }
    return queued;
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
    std::string Open(const std::string& device, const LineSettings& settings) {
        serial_.setPortName(QString::fromStdString(device));
        if (!serial_.open(QIODevice::ReadWrite)) {
            return device + ": " + serial_.errorString().toStdString();
        }
        if (std::string failure = Apply(settings); !failure.empty()) {
            serial_.close();
            return failure;
        }
        line_.handle_ = serial_.handle();
        line_.open_ = true;
        hangUpCheck_.start(kHangUpCheck);
        return {};
    }

    std::string Apply(const LineSettings& settings) {
        const bool applied =
            serial_.setBaudRate(settings.baud) &&
            serial_.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits)) &&
            serial_.setParity(ToQt(settings.parity)) &&
            serial_.setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop
                                                       : QSerialPort::OneStop);
        if (!applied) {
            return serial_.portName().toStdString() +
                   " refuses the settings: " + serial_.errorString().toStdString();
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
            serial_.close();
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
};

QtSerialLine::QtSerialLine(const PortMap& ports, const Clock& clock)
    : ports_(ports), port_(std::make_unique<Port>(*this, clock)) {
    thread_.setObjectName("serial line");
    port_->moveToThread(&thread_);
    thread_.start(QThread::TimeCriticalPriority);
}

QtSerialLine::~QtSerialLine() {
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
        OnPortThread([this] { port_->Close(); });
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
    std::string failure;
    OnPortThread([&] { failure = port_->Open(device, settings_); });
    if (!failure.empty()) {
        return Fail(failure);
    }
    std::lock_guard lock(mutex_);
    lastError_.clear();
    return true;
}

void QtSerialLine::Output(std::string_view text) {
    if (!open_ || text.empty()) {
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
