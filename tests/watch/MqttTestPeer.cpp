// SPDX-License-Identifier: GPL-3.0-or-later
// The other ends of the MQTT tests, each in a process of its own:
//   mqtt_test_peer publish URL LINE KEEPALIVE_SECONDS
//     a watch's publisher alone, for the test that kills it without a clean end: it publishes
//     one reading of controller 7 and ticks until killed;
//   mqtt_test_peer subscribe PORT FILTER
//     a subscriber on 127.0.0.1:PORT that prints "ready" once subscribed, then each message as
//     "TOPIC<tab>RETAINED<tab>QOS<tab>PAYLOAD".
// Paho connects a second client of one process only after a second or two, which would make up
// most of the tests' time; apart, each connects at once. Either gives up after a minute, so that
// a lost one does not linger.

#include <sys/prctl.h>

#include <mqtt/async_client.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <variant>

#include "watch/MqttPublisher.h"

namespace {

constexpr auto kLifetime = std::chrono::minutes(1);

int Publish(const char* url, const char* line, const char* keepAlive) {
    const auto target = tarvel::ParseMqttUrl(url);
    if (const auto* refusal = std::get_if<std::string>(&target)) {
        std::fprintf(stderr, "%s\n", refusal->c_str());
        return 2;
    }
    tarvel::MqttConnection connection;
    connection.keepAlive = std::chrono::seconds(std::stoi(keepAlive));
    tarvel::MqttPublisher publisher(
        std::get<tarvel::MqttTarget>(target), line,
        [](const std::string& told) { std::fprintf(stderr, "%s\n", told.c_str()); }, connection);
    tarvel::ControllerReading reading;
    reading.address = "7";
    reading.state = "healthy";
    reading.requests = 3;
    reading.good = 3;
    const auto start = std::chrono::steady_clock::now();
    publisher.Offer(reading, std::chrono::steady_clock::now());
    while (std::chrono::steady_clock::now() - start < kLifetime) {
        publisher.Tick(std::chrono::steady_clock::now());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 1;
}

int Subscribe(const char* port, const char* filter) {
    mqtt::async_client client(std::string("tcp://127.0.0.1:") + port,
                              "tarvel-test-subscriber-" + std::to_string(::getpid()));
    client.start_consuming();
    mqtt::connect_options options;
    options.set_clean_session(true);
    try {
        if (!client.connect(options)->wait_for(std::chrono::seconds(5)) ||
            !client.subscribe(filter, 1)->wait_for(std::chrono::seconds(5))) {
            std::fprintf(stderr, "no subscription within 5 s\n");
            return 1;
        }
    } catch (const mqtt::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < kLifetime) {
        mqtt::const_message_ptr message;
        if (!client.try_consume_message_for(&message, std::chrono::milliseconds(200))) {
            continue;
        }
        if (!message) {
            std::fprintf(stderr, "the subscriber lost its connection\n");
            return 1;
        }
        std::printf("%s\t%d\t%d\t%s\n", message->get_topic().c_str(), message->is_retained(),
                    message->get_qos(), message->to_string().c_str());
        std::fflush(stdout);
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc == 5 && std::strcmp(argv[1], "publish") == 0) {
        return Publish(argv[2], argv[3], argv[4]);
    }
    if (argc == 4 && std::strcmp(argv[1], "subscribe") == 0) {
        return Subscribe(argv[2], argv[3]);
    }
    std::fprintf(stderr, "usage: mqtt_test_peer publish URL LINE KEEPALIVE_SECONDS\n"
                         "       mqtt_test_peer subscribe PORT FILTER\n");
    return 2;
}
