// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/MqttPublisher.h"

#include <unistd.h>

#include <mqtt/async_client.h>
#include <charconv>
#include <cmath>
#include <cstring>

namespace tarvel {
namespace {

constexpr int kQos = 1;
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";
// Beyond this many of Paho's deliveries still unconfirmed, messages wait: a broker that takes
// but does not confirm must not make the client's queue grow without end.
constexpr std::size_t kUnconfirmedSlack = 8;

// The URL as a message may quote it: control characters would act on the terminal.
std::string Shown(std::string_view text) {
    std::string shown;
    for (const char c : text.substr(0, 200)) {
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    }
    return text.size() > 200 ? shown + "..." : shown;
}

bool HostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

bool SameLetters(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? char(text[i] - 'A' + 'a') : text[i];
        if (c != lower[i]) {
            return false;
        }
    }
    return true;
}

// Why a prefix cannot start topics that are published to; empty when it can.
std::string PrefixProblem(std::string_view prefix) {
    if (prefix.find('?') != std::string_view::npos) {
        return "a query (?...) is not part of an MQTT address";
    }
    if (prefix.find_first_of("+#") != std::string_view::npos) {
        return "the topic prefix \"" + Shown(prefix) +
               "\" holds a wildcard (+ or #), which no published topic may";
    }
    if (prefix.find('\0') != std::string_view::npos) {
        return "the topic prefix holds a NUL character";
    }
    if (!prefix.empty() && prefix.front() == '$') {
        return "the topic prefix \"" + Shown(prefix) + "\" starts with $, kept for the broker";
    }
    if ((!prefix.empty() && prefix.front() == '/') || prefix.find("//") != std::string_view::npos) {
        return "the topic prefix \"" + Shown(prefix) + "\" has an empty level (//)";
    }
    return {};
}

// A name made one topic level: the characters MQTT gives a meaning in topics are replaced.
std::string TopicLevel(const std::string& name) {
    std::string level = name.empty() ? "_" : name;
    for (char& c : level) {
        if (c == '/' || c == '+' || c == '#' || c == '\0') {
            c = '_';
        }
    }
    return level;
}

void AppendNumber(std::string& out, double value) {
    if (!std::isfinite(value) || value == 0) {
        out += '0';  // also for -0
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendNumber(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendKey(std::string& out, std::string_view key) {
    out += out.size() > 1 ? ",\"" : "\"";
    for (const char c : key) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[(c >> 4) & 0xf];
            out += kHex[c & 0xf];
        } else {
            out += c;
        }
    }
    out += "\":";
}

std::string ConnectFailure(int rc) {
    switch (rc) {
        case MQTTASYNC_FAILURE: return "no connection (refused, unreachable or timed out)";
        case 1: return "the broker refuses the protocol version";
        case 2: return "the broker refuses the client id";
        case 3: return "the broker is unavailable";
        case 4: return "the broker refuses the user name or password";
        case 5: return "the broker does not authorise this client";
        default: break;
    }
    const std::string text = mqtt::exception::error_str(rc);
    return text.empty() ? "error " + std::to_string(rc) : text;
}

}  // namespace

std::variant<MqttTarget, std::string> ParseMqttUrl(std::string_view url) {
    const auto refused = [url](const std::string& reason) {
        return "invalid --mqtt \"" + Shown(url) + "\": " + reason;
    };
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) {
        return refused("expected mqtt://HOST:PORT/TOPIC-PREFIX");
    }
    const std::string_view scheme = url.substr(0, schemeEnd);
    if (!SameLetters(scheme, "mqtt")) {
        return refused("the scheme \"" + Shown(scheme) +
                       "\" is not supported: expected mqtt://HOST:PORT/TOPIC-PREFIX");
    }
    std::string_view rest = url.substr(schemeEnd + 3);
    const std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? "" : rest.substr(slash + 1);
    if (authority.find('@') != std::string_view::npos) {
        return refused("a user name or password in the address is not supported");
    }

    MqttTarget target;
    std::string_view portText;
    bool portGiven = false;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return refused("the IPv6 address is not closed with ]");
        }
        target.host = std::string(authority.substr(1, close - 1));
        if (target.host.empty() ||
            target.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
            return refused("\"" + Shown(target.host) + "\" is not an IPv6 address");
        }
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return refused("expected :PORT after the IPv6 address");
            }
            portGiven = true;
            portText = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(':');
        target.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            portGiven = true;
            portText = authority.substr(colon + 1);
        }
        if (target.host.empty()) {
            return refused("no broker host: expected mqtt://HOST:PORT/TOPIC-PREFIX");
        }
        for (const char c : target.host) {
            if (!HostCharacter(c)) {
                return refused("the broker host \"" + Shown(target.host) +
                               "\" is not a host name or an address");
            }
        }
    }
    if (portGiven) {
        unsigned port = 0;
        const auto [end, error] =
            std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() ||
            port < 1 || port > 65535) {
            return refused("the port \"" + Shown(portText) + "\" is not a number from 1 to 65535");
        }
        target.port = static_cast<std::uint16_t>(port);
    }

    // One "/" after the host separates; one at the end is forgiven.
    if (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    if (const std::string problem = PrefixProblem(path); !problem.empty()) {
        return refused(problem);
    }
    target.prefix = std::string(path);
    return target;
}

std::string MqttBrokerName(const MqttTarget& target) {
    const bool v6 = target.host.find(':') != std::string::npos;
    return (v6 ? "[" + target.host + "]" : target.host) + ":" + std::to_string(target.port);
}

std::string MqttReadingJson(const ControllerReading& reading) {
    std::string out = "{";
    AppendKey(out, "requests");
    AppendNumber(out, reading.requests);
    AppendKey(out, "good");
    AppendNumber(out, reading.good);
    AppendKey(out, "failures");
    AppendNumber(out, reading.failures);
    for (const auto& [reason, count] : reading.failuresByReason) {
        AppendKey(out, reason);
        AppendNumber(out, count);
    }
    AppendKey(out, "response_p95_seconds");
    AppendNumber(out, reading.responseP95Seconds);
    AppendKey(out, "last_good_answer_timestamp_seconds");
    AppendNumber(out, reading.lastGoodAnswerSeconds);
    for (const char* state : kControllerStates) {
        AppendKey(out, state);
        out += reading.state == state ? '1' : '0';
    }
    out += '}';
    return out;
}

// --- MqttSchedule ---

bool MqttSchedule::IsDue(const Entry& entry, Instant now) const {
    if (!entry.published) {
        return true;
    }
    if (entry.latest == *entry.published) {
        return false;
    }
    // A new state goes out at once, but a controller that flaps between two states goes out
    // at most once a second.
    const bool stateChanged = entry.latest.state != entry.published->state;
    return (stateChanged && now - entry.publishedAt >= kStateSpacing) ||
           now - entry.publishedAt >= pacing_;
}

bool MqttSchedule::Offer(const ControllerReading& reading, Instant now) {
    Entry& entry = entries_[reading.address];
    entry.latest = reading;
    return IsDue(entry, now);
}

std::vector<ControllerReading> MqttSchedule::Due(Instant now) {
    std::vector<ControllerReading> due;
    for (auto& [address, entry] : entries_) {
        if (IsDue(entry, now)) {
            entry.published = entry.latest;
            entry.publishedAt = now;
            due.push_back(entry.latest);
        }
    }
    return due;
}

// --- MqttPublisher ---

class MqttPublisher::ConnectListener : public mqtt::iaction_listener {
public:
    explicit ConnectListener(Inbox& inbox) : inbox_(inbox) {}
    void on_failure(const mqtt::token& token) override {
        inbox_.Post({Event::Kind::ConnectFailed, ConnectFailure(token.get_return_code())});
    }
    void on_success(const mqtt::token&) override {}  // the connected handler tells

private:
    Inbox& inbox_;
};

void MqttPublisher::Inbox::Post(Event event) {
    std::lock_guard lock(mutex);
    // Only the order of the last few matters; a caller that stopped ticking must not make this
    // grow.
    if (events.size() >= 16) {
        events.pop_front();
    }
    events.push_back(std::move(event));
}

MqttPublisher::MqttPublisher(MqttTarget target, std::string line, Log log,
                             MqttConnection connection)
    : target_(std::move(target)),
      lineLevel_(TopicLevel(line)),
      log_(std::move(log)),
      connection_(std::move(connection)),
      listener_(std::make_unique<ConnectListener>(inbox_)) {
    if (connection_.clientId.empty()) {
        connection_.clientId = "line-tarvel-" + line + "-" + std::to_string(::getpid());
    }
    const bool v6 = target_.host.find(':') != std::string::npos;
    const std::string uri = "tcp://" + (v6 ? "[" + target_.host + "]" : target_.host) + ":" +
                            std::to_string(target_.port);
    try {
        client_ = std::make_unique<mqtt::async_client>(uri, connection_.clientId);
        client_->set_connected_handler([this](const std::string&) {
            inbox_.Post({Event::Kind::Connected, {}});
        });
        client_->set_connection_lost_handler([this](const std::string& cause) {
            inbox_.Post({Event::Kind::Lost, cause});
        });

        mqtt::connect_options options;
        options.set_clean_session(true);
        options.set_keep_alive_interval(connection_.keepAlive);
        options.set_connect_timeout(connection_.connectTimeout);
        options.set_automatic_reconnect(connection_.retryFirst, connection_.retryLast);
        options.set_will(mqtt::will_options(StatusTopic(), std::string(kOffline), kQos, true));
        client_->connect(options, nullptr, *listener_);
    } catch (const mqtt::exception& error) {
        // Nothing will connect; the watch goes on without MQTT, and says so once.
        client_.reset();
        if (log_) {
            log_("MQTT broker " + MqttBrokerName(target_) + " unusable: " + error.what());
        }
    }
}

MqttPublisher::~MqttPublisher() { Close(); }

std::string MqttPublisher::ReadingTopic(const std::string& address) const {
    const std::string tail = lineLevel_ + "/" + TopicLevel(address);
    return target_.prefix.empty() ? tail : target_.prefix + "/" + tail;
}

std::string MqttPublisher::StatusTopic() const { return ReadingTopic("status"); }

void MqttPublisher::Offer(const ControllerReading& reading, Instant now) {
    if (closed_ || !client_) {
        return;
    }
    if (schedule_.Offer(reading, now)) {
        Store(schedule_.Due(now));
        Send();
    }
}

void MqttPublisher::Tick(Instant now) {
    if (closed_ || !client_) {
        return;
    }
    TakeEvents();
    Store(schedule_.Due(now));
    Send();
}

void MqttPublisher::Store(const std::vector<ControllerReading>& readings) {
    for (const ControllerReading& reading : readings) {
        Pending& pending = pending_[reading.address];
        pending.payload = MqttReadingJson(reading);
        pending.sent = false;
    }
}

void MqttPublisher::TakeEvents() {
    std::deque<Event> events;
    {
        std::lock_guard lock(inbox_.mutex);
        events.swap(inbox_.events);
    }
    const auto tell = [this](const std::string& what) {
        if (log_) {
            log_("MQTT broker " + MqttBrokerName(target_) + " " + what);
        }
    };
    for (const Event& event : events) {
        switch (event.kind) {
            case Event::Kind::Connected:
                connected_ = true;
                // A new session: the broker may have restarted without our retained messages,
                // and what was in flight on the last one is lost.
                statusSent_ = false;
                for (auto& [address, pending] : pending_) {
                    pending.sent = false;
                }
                if (!everConnected_ || outageTold_) {
                    tell(everConnected_ ? "connected again" : "connected");
                }
                everConnected_ = true;
                outageTold_ = false;
                break;
            case Event::Kind::Lost:
            case Event::Kind::ConnectFailed:
                connected_ = false;
                statusSent_ = false;
                if (!outageTold_) {
                    const bool lost = event.kind == Event::Kind::Lost;
                    std::string why = lost ? "connection lost" : event.text;
                    if (lost && !event.text.empty()) {
                        why += " (" + event.text + ")";
                    }
                    tell("unreachable: " + why);
                    outageTold_ = true;
                }
                break;
        }
    }
}

bool MqttPublisher::Publish(const std::string& topic, const std::string& payload) {
    try {
        client_->publish(topic, payload.data(), payload.size(), kQos, true);
        return true;
    } catch (const mqtt::exception&) {
        // Disconnected under our feet: the lost connection's event follows, and the message is
        // sent again after reconnecting.
        return false;
    }
}

void MqttPublisher::Send() {
    if (!connected_) {
        return;
    }
    if (!statusSent_) {
        statusSent_ = Publish(StatusTopic(), lineUp_ ? kOnline : kOffline);
        if (!statusSent_) {
            return;
        }
    }
    std::size_t unconfirmed = client_->get_pending_delivery_tokens().size();
    const std::size_t limit = pending_.size() + kUnconfirmedSlack;
    for (auto& [address, pending] : pending_) {
        if (pending.sent) {
            continue;
        }
        if (unconfirmed >= limit || !Publish(ReadingTopic(address), pending.payload)) {
            return;
        }
        pending.sent = true;
        ++unconfirmed;
    }
}

void MqttPublisher::SetLineUp(bool up) {
    if (up == lineUp_) {
        return;
    }
    lineUp_ = up;
    statusSent_ = false;
    Send();
}

void MqttPublisher::Close() {
    if (closed_ || !client_) {
        closed_ = true;
        return;
    }
    TakeEvents();
    closed_ = true;
    const auto deadline = std::chrono::steady_clock::now() + connection_.closeWait;
    try {
        if (client_->is_connected()) {
            connected_ = true;
            Send();
            // Confirmed before disconnecting: Paho's own wait for messages in flight at a
            // disconnection runs on a coarse clock, seconds rather than the time asked for.
            client_->publish(StatusTopic(), kOffline, std::strlen(kOffline), kQos, true)
                ->wait_until(deadline);
        }
        // While unconnected this ends the reconnection attempts.
        client_->disconnect(0)->wait_until(deadline);
    } catch (const mqtt::exception&) {
        // Not connected, or the connection lost on the way: nothing more to say goodbye to.
    }
    connected_ = false;
    statusSent_ = false;
}

}  // namespace tarvel
