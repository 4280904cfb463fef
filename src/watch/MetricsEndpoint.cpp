// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/MetricsEndpoint.h"

#include <CivetServer.h>
#include <civetweb.h>
#include <prometheus/exposer.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace tarvel {

struct MetricsEndpoint::Served {
    std::shared_ptr<prometheus::Registry> registry;
    std::string landingPage;
};

namespace {

// The server calls back without a word of ours, so each endpoint is found by the port the
// request came in on.
std::mutex servedMutex;
std::map<int, std::shared_ptr<MetricsEndpoint::Served>>& ServedByPort() {
    static std::map<int, std::shared_ptr<MetricsEndpoint::Served>> served;
    return served;
}

void Respond(mg_connection* connection, int status, const char* reason, const char* headers,
             const std::string& body) {
    mg_printf(connection,
              "HTTP/1.1 %d %s\r\n%sContent-Length: %zu\r\nCache-Control: no-store\r\n"
              "Connection: close\r\n\r\n",
              status, reason, headers, body.size());
    mg_write(connection, body.data(), body.size());
}

std::string Escaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '&': escaped += "&amp;"; break;
            case '"': escaped += "&quot;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

// Every request is answered here: the server is told the answer was given, so its own
// handlers (and the file serving it could do) never come into play.
int Answer(mg_connection* connection) {
    const mg_request_info* request = mg_get_request_info(connection);
    std::shared_ptr<MetricsEndpoint::Served> served;
    {
        const std::lock_guard lock(servedMutex);
        const auto found = ServedByPort().find(request->server_port);
        if (found != ServedByPort().end()) {
            served = found->second;
        }
    }
    const std::string path = request->local_uri != nullptr ? request->local_uri : "";
    const bool known = path == "/" || path == "/metrics";
    if (served == nullptr || !known) {
        Respond(connection, 404, "Not Found", "Content-Type: text/plain; charset=utf-8\r\n",
                "Not found: the metrics are at /metrics\n");
        return 404;
    }
    if (std::strcmp(request->request_method, "GET") != 0) {
        Respond(connection, 405, "Method Not Allowed",
                "Allow: GET\r\nContent-Type: text/plain; charset=utf-8\r\n",
                "Only GET is answered here\n");
        return 405;
    }
    if (path == "/") {
        Respond(connection, 200, "OK", "Content-Type: text/html; charset=utf-8\r\n",
                served->landingPage);
        return 200;
    }
    std::string body;
    try {
        std::ostringstream text;
        prometheus::TextSerializer().Serialize(text, served->registry->Collect());
        body = text.str();
    } catch (const std::exception& failure) {
        // A server thread must not end the program: the scrape fails, the watch goes on.
        Respond(connection, 500, "Internal Server Error",
                "Content-Type: text/plain; charset=utf-8\r\n",
                std::string("The metrics could not be gathered: ") + failure.what() + "\n");
        return 500;
    }
    Respond(connection, 200, "OK", "Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n",
            body);
    return 200;
}

// Connects to the endpoint and leaves at once.
void Knock(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        return;
    }
    const int socket = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0);
    if (socket >= 0) {
        ::connect(socket, found->ai_addr, found->ai_addrlen);
        ::close(socket);
    }
    ::freeaddrinfo(found);
}

}  // namespace

std::variant<std::string, std::string> MetricsAddress(std::string_view given) {
    std::string_view host = "127.0.0.1";
    std::string_view port = given;
    if (const std::size_t colon = given.rfind(':'); colon != std::string_view::npos) {
        host = given.substr(0, colon);
        port = given.substr(colon + 1);
        const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
        if (host.empty() || (!bracketed && host.find(':') != std::string_view::npos)) {
            return std::variant<std::string, std::string>(
                std::in_place_index<1>, "HOST:PORT, [IPv6]:PORT or a port, such as 127.0.0.1:9780");
        }
    }
    int number = -1;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 0 ||
        number > 65535) {
        return std::variant<std::string, std::string>(std::in_place_index<1>,
                                                      "a port from 0 to 65535 after the host");
    }
    return std::variant<std::string, std::string>(std::in_place_index<0>,
                                                  std::string(host) + ":" + std::string(port));
}

std::variant<std::unique_ptr<MetricsEndpoint>, std::string> MetricsEndpoint::Start(
    const std::string& address, std::shared_ptr<prometheus::Registry> registry, std::string title) {
    std::unique_ptr<MetricsEndpoint> endpoint(new MetricsEndpoint());
    endpoint->served_ = std::make_shared<Served>();
    endpoint->served_->registry = std::move(registry);
    endpoint->served_->landingPage =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Line Tarvel watch</title>"
        "</head>\n<body><h1>Line Tarvel watch</h1>\n<p>" +
        Escaped(title) + "</p>\n<p><a href=\"/metrics\">Metrics</a></p>\n</body></html>\n";
    static CivetCallbacks callbacks = [] {
        CivetCallbacks answering;
        answering.begin_request = Answer;
        return answering;
    }();
    try {
        // Two threads: a scrape goes on while another client is slow to read.
        endpoint->exposer_ = std::make_unique<prometheus::Exposer>(
            std::vector<std::string>{"listening_ports", address, "num_threads", "2",
                                     "request_timeout_ms", "10000"},
            &callbacks);
    } catch (const std::exception& failure) {
        return std::string("cannot listen on ") + address + ": " + failure.what();
    }
    const std::vector<int> ports = endpoint->exposer_->GetListeningPorts();
    if (ports.empty()) {
        return std::string("cannot listen on ") + address;
    }
    endpoint->port_ = ports.front();
    // Where a connection reaches it: an address of every interface is reached on loopback.
    std::string host = address.substr(0, address.rfind(':'));
    if (host.size() > 2 && host.front() == '[') {
        host = host.substr(1, host.size() - 2);
    }
    endpoint->host_ = host == "0.0.0.0" ? "127.0.0.1" : host == "::" ? "::1" : host;
    const std::lock_guard lock(servedMutex);
    ServedByPort()[endpoint->port_] = endpoint->served_;
    return endpoint;
}

MetricsEndpoint::~MetricsEndpoint() {
    {
        const std::lock_guard lock(servedMutex);
        ServedByPort().erase(port_);
    }
    // The server's stop waits until its listening thread looks again, up to 2 s; a connection
    // makes it look at once. Made again and again, since one made before the stop is begun is
    // only served.
    std::atomic<bool> stopped{false};
    std::thread waker([this, &stopped] {
        while (!stopped) {
            Knock(host_, port_);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    exposer_.reset();
    stopped = true;
    waker.join();
}

}  // namespace tarvel
