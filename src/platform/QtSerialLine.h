#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>

#include "platform/Clock.h"
#include "platform/LineSettings.h"
#include "platform/PortMap.h"
#include "platform/SerialLine.h"
#include "platform/StampedInput.h"

namespace tarvel {

// The serial line of the running program: a QSerialPort on the host device that the port map
// gives for the chosen port number.
//
// The port lives on a small thread of its own, which reads every character as soon as the
// driver has it and stamps it with the time, so that a busy window (a long repaint, a big list)
// can neither delay the reading nor make an answer that came in time look late. The program's
// thread finds the characters, with their stamps, in a buffer the two threads share; the line's
// notifications reach it from its event loop, never from inside a call.
class QtSerialLine final : public SerialLine {
public:
    // `ports` says which device each port number stands for; it must outlive the line.
    QtSerialLine(const PortMap& ports, const Clock& clock);
    ~QtSerialLine() override;
    QtSerialLine(const QtSerialLine&) = delete;
    QtSerialLine& operator=(const QtSerialLine&) = delete;

    bool SetCommPort(std::int16_t number) override;
    bool SetSettings(std::string_view settingsText) override;
    bool SetInputLen(std::int16_t length) override;
    bool SetPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    void Output(std::string_view text) override;
    std::string Input() override;
    std::string InputFirst(int count) override;
    std::string Peek(int count) const override;
    int InBufferCount() override;
    int OutBufferCount() override;
    std::optional<Instant> ArrivalOf(int index) const override;
    std::string LastError() const override;
    std::optional<UartErrorCounts> ErrorCounts() const override;

private:
    class Port;

    bool Fail(std::string reason);
    // Runs `call` on the port's thread and waits for it.
    template <typename Call>
    void OnPortThread(Call call);
    void PostInputActivity();
    void PostOutputActivity();

    const PortMap& ports_;
    std::int16_t number_ = 1;
    LineSettings settings_;
    std::int16_t inputLen_ = 0;

    QObject here_;  // the program's thread, for the notifications posted to it
    QThread thread_;
    std::unique_ptr<Port> port_;

    // Shared with the port's thread.
    mutable std::mutex mutex_;
    mutable std::mutex directWrite_;  // the descriptor stays open while the program's thread writes
    StampedInput received_;
    std::string lastError_;
    std::atomic<bool> open_ = false;
    std::atomic<int> handedOver_ = 0;    // given to Output, not yet in the port's own buffer
    std::atomic<int> portBuffered_ = 0;  // in the port's own buffer, not yet in the driver's
    std::atomic<int> handle_ = -1;
    std::atomic<bool> inputPosted_ = false;
    std::atomic<bool> outputPosted_ = false;
    std::atomic<bool> drainWatched_ = false;
    std::atomic<bool> outputWanted_ = false;
};

}  // namespace tarvel
