// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace prometheus {
class Exposer;
class Registry;
}  // namespace prometheus

namespace tarvel {

// "127.0.0.1:9780" from what --metrics was given: "HOST:PORT", "[V6]:PORT", or a port alone,
// which listens on 127.0.0.1; the reason when it is none of them.
std::variant<std::string, std::string> MetricsAddress(std::string_view given);

// The HTTP endpoint Prometheus scrapes: GET /metrics gives the registry in the text format
// 0.0.4, GET / a small page that links to it; any other path is not found, and any other method
// is refused. prometheus-cpp's server answers on threads of its own, so a scrape reads the
// registry as it stands and never waits for the line.
class MetricsEndpoint {
public:
    // Listens on `address` (as MetricsAddress gives it); the host's reason when it cannot.
    // `title` heads the landing page: the line watched.
    static std::variant<std::unique_ptr<MetricsEndpoint>, std::string> Start(
        const std::string& address, std::shared_ptr<prometheus::Registry> registry,
        std::string title);
    ~MetricsEndpoint();
    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

    // The port it listens on: the one asked for, or the one the host chose for port 0.
    int Port() const { return port_; }

    struct Served;  // what the server's threads read

private:
    MetricsEndpoint() = default;

    std::shared_ptr<Served> served_;
    std::unique_ptr<prometheus::Exposer> exposer_;
    int port_ = 0;
    std::string host_;  // where a connection from this host reaches it
};

}  // namespace tarvel
