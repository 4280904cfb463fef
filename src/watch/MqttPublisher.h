// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/Time.h"
#include "watch/ControllerReading.h"

namespace mqtt {
class async_client;
}

namespace tarvel {

// Where a watch publishes: a broker and the topic prefix its lines go under.
struct MqttTarget {
    std::string host;  // a name or an address; an IPv6 address without its brackets
    std::uint16_t port = 1883;
    // Topic levels joined by "/", without a leading or trailing "/"; empty to start the topics
    // at the line's name.
    std::string prefix;

    friend bool operator==(const MqttTarget&, const MqttTarget&) = default;
};

// Reads the value of --mqtt, "mqtt://HOST[:PORT][/PREFIX]". A refusal is the whole one-line
// message the command line shows: `invalid --mqtt "URL": REASON`.
std::variant<MqttTarget, std::string> ParseMqttUrl(std::string_view url);

// "HOST:PORT" as log lines name the broker, brackets around an IPv6 address.
std::string MqttBrokerName(const MqttTarget& target);

// A controller's reading as published: one flat JSON object of numbers, the counts, each
// failure reason under its own name, the response p95 and the last good answer's time, and the
// judgement one-hot (1 under the current state, 0 under the others). Written the same whatever
// the locale; what is not finite is written as 0.
std::string MqttReadingJson(const ControllerReading& reading);

// When each controller's reading goes out: at once when its state changed since its last
// publication (or it has none yet), otherwise its newest reading at most once per `pacing`, and
// nothing while it is unchanged. Pure bookkeeping on the times given, so that it can be driven
// by made-up clocks.
class MqttSchedule {
public:
    explicit MqttSchedule(Duration pacing = std::chrono::seconds(10)) : pacing_(pacing) {}
    // The shortest time between two publications of a controller, a new state's included.
    static constexpr Duration kStateSpacing = std::chrono::seconds(1);

    // Takes a controller's newest reading; true when something is due at `now`.
    bool Offer(const ControllerReading& reading, Instant now);
    // The readings due at `now`, in address order, each counted as published at `now`.
    std::vector<ControllerReading> Due(Instant now);

private:
    struct Entry {
        ControllerReading latest;
        std::optional<ControllerReading> published;
        Instant publishedAt{};
    };
    bool IsDue(const Entry& entry, Instant now) const;

    Duration pacing_;
    std::map<std::string, Entry> entries_;
};

// How a publisher talks to its broker; the defaults are the watch's.
struct MqttConnection {
    // Also how soon the broker declares a silent watch offline: one and a half times this.
    std::chrono::seconds keepAlive{30};
    std::chrono::seconds connectTimeout{10};
    // Paho's automatic reconnection, doubling from the first to the last.
    std::chrono::seconds retryFirst{1};
    std::chrono::seconds retryLast{60};
    // How long Close() waits at most for the offline status and the disconnection.
    std::chrono::milliseconds closeWait{2000};
    std::string clientId;  // empty: "line-tarvel-LINE-PID"
};

// Publishes one line's controllers to an MQTT broker, retained at QoS 1, on
// PREFIX/LINE/ADDRESS, and the line's status ("online", or "offline" as the last will and on a
// clean end) on PREFIX/LINE/status.
//
// Made for a single-threaded event loop: no call waits for the network but Close(). Paho's
// threads only note what happened to the connection; Tick() acts on it, so the log callback is
// only ever called from the caller's thread. While the broker is away each controller keeps only
// its newest message, and after every (re)connection the newest message of every controller is
// sent again: the broker may have lost its retained messages, and QoS 1 messages in flight on a
// lost clean session are gone.
class MqttPublisher {
public:
    using Log = std::function<void(std::string)>;

    // Starts connecting at once.
    MqttPublisher(MqttTarget target, std::string line, Log log, MqttConnection connection = {});
    ~MqttPublisher();  // a Close() first
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // A controller's newest reading; what is due goes out at once when connected.
    void Offer(const ControllerReading& reading, Instant now);
    // To be called about once a second: takes note of the connection (telling the log of an
    // outage once, and once more when connected again), sends what has been waiting for it,
    // and what the schedule has due.
    void Tick(Instant now);
    // Whether the line's port is open: the status says "online" only while it is (and the
    // publisher is running), "offline" while it is lost. Open until told otherwise.
    void SetLineUp(bool up);
    // The clean end: the newest readings and "offline" are sent and the connection closed,
    // waiting at most MqttConnection::closeWait. Nothing is published after it.
    void Close();

    // As of the last Offer()/Tick(): connected and the status published.
    bool Online() const { return connected_ && statusSent_; }
    std::string ReadingTopic(const std::string& address) const;
    std::string StatusTopic() const;

private:
    struct Event {
        enum class Kind { Connected, Lost, ConnectFailed };
        Kind kind;
        std::string text;
    };
    class ConnectListener;
    // What Paho's threads tell, kept until the next Tick().
    struct Inbox {
        std::mutex mutex;
        std::deque<Event> events;
        void Post(Event event);
    };
    struct Pending {
        std::string payload;
        bool sent = false;
    };

    void TakeEvents();
    void Send();
    void Store(const std::vector<ControllerReading>& readings);
    bool Publish(const std::string& topic, const std::string& payload);

    MqttTarget target_;
    std::string lineLevel_;
    Log log_;
    MqttConnection connection_;
    MqttSchedule schedule_;
    std::map<std::string, Pending> pending_;  // by address
    bool connected_ = false;
    bool everConnected_ = false;
    bool outageTold_ = false;
    bool statusSent_ = false;
    bool lineUp_ = true;
    bool closed_ = false;
    Inbox inbox_;
    std::unique_ptr<ConnectListener> listener_;
    // Last, so that it goes first and no callback of its threads outlives what it uses.
    std::unique_ptr<mqtt::async_client> client_;
};

}  // namespace tarvel
