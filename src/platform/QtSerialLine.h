#pragma once

#include <QSerialPort>
#include <QTimer>

#include "platform/LineSettings.h"
#include "platform/PortMap.h"
#include "platform/SerialLine.h"

namespace tarvel {

// The serial line of the running program: a QSerialPort on the host device that the port map
// gives for the chosen port number. Reads and writes are driven by the port's signals; the
// counts include what still sits in the driver, so a wait sees a character as soon as the host
// has it.
class QtSerialLine final : public SerialLine {
public:
    explicit QtSerialLine(PortMap ports);
    ~QtSerialLine() override;

    bool SetCommPort(std::int16_t number) override;
    bool SetSettings(std::string_view settingsText) override;
    bool SetInputLen(std::int16_t length) override;
    bool SetPortOpen(bool open) override;
    bool PortOpen() const override { return port_.isOpen(); }
    void Output(std::string_view text) override;
    std::string Input() override;
    int InBufferCount() override;
    int OutBufferCount() override;
    std::string LastError() const override { return lastError_; }

private:
    bool Fail(std::string reason);
    bool ApplySettings();
    void PullFromDriver();
    int DriverOutputQueue() const;
    void WatchDriverQueue();
    void OnPortError(QSerialPort::SerialPortError error);
    void Lose(const std::string& reason);

    PortMap ports_;
    QSerialPort port_;
    QTimer drainWatch_;
    std::int16_t number_ = 1;
    LineSettings settings_;
    std::int16_t inputLen_ = 0;
    std::string lastError_;
};

}  // namespace tarvel
