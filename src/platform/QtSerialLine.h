#pragma once

#include <QSerialPort>
#include <QTimer>
#include <deque>

#include "platform/Clock.h"
#include "platform/LineSettings.h"
#include "platform/PortMap.h"
#include "platform/SerialLine.h"

namespace tarvel {

// The serial line of the running program: a QSerialPort on the host device that the port map
// gives for the chosen port number. Received characters move into a buffer of the line's own as
// soon as the port reports them, each stamped with the time it was taken in; the counts include
// what still sits in the driver, so a wait sees a character as soon as the host has it.
//
// The port's signals can come from inside a call (Qt reads the driver on request and signals at
// once), so they only fill the buffer; the line's own notifications are posted to the event
// loop, as the interface promises.
class QtSerialLine final : public SerialLine {
public:
    QtSerialLine(PortMap ports, const Clock& clock);
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
    std::optional<Instant> ArrivalOf(int index) const override;
    std::string LastError() const override { return lastError_; }

private:
    bool Fail(std::string reason);
    bool ApplySettings();
    void PullFromDriver();
    void TakeFromPort();
    int DriverOutputQueue() const;
    void WatchDriverQueue();
    void OnPortError(QSerialPort::SerialPortError error);
    void Lose(const std::string& reason);
    void PostInputActivity();
    void PostOutputActivity();

    PortMap ports_;
    const Clock& clock_;
    QSerialPort port_;
    QTimer drainWatch_;
    std::int16_t number_ = 1;
    LineSettings settings_;
    std::int16_t inputLen_ = 0;
    std::string lastError_;
    std::string received_;
    std::deque<Instant> arrivals_;  // one for each character of received_
    bool inputPosted_ = false;
    bool outputPosted_ = false;
};

}  // namespace tarvel
