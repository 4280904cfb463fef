// SPDX-License-Identifier: GPL-3.0-or-later
// What a watch stands on: the HTTP endpoint as a scraper sees it, what systemd hears, and the
// daily traffic files and their retention.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <prometheus/counter.h>
#include <prometheus/registry.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "watch/DailyFiles.h"
#include "watch/MetricsEndpoint.h"
#include "watch/ServiceNotifier.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The whole answer of the endpoint on 127.0.0.1:`port` to `request`.
std::string Ask(int port, const std::string& request) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return "cannot connect";
    }
    [[maybe_unused]] const auto sent = ::send(socket, request.data(), request.size(), 0);
    std::string answer;
    char buffer[4096];
    for (ssize_t got; (got = ::recv(socket, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(socket);
    return answer;
}

std::string Get(int port, const std::string& path, const std::string& method = "GET") {
    return Ask(port, method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
}

TEST(MetricsEndpoint, ServesTheMetricsAndALandingPageAndNothingElse) {
    auto registry = std::make_shared<prometheus::Registry>();
    auto& counter = prometheus::BuildCounter()
                        .Name("linetarvel_requests_total")
                        .Help("Requests.")
                        .Register(*registry)
                        .Add({{"address", "A"}});
    auto started = MetricsEndpoint::Start("127.0.0.1:0", registry, "boiler <house>");
    ASSERT_EQ(started.index(), 0U) << std::get<std::string>(started);
    const auto endpoint = std::get<0>(std::move(started));
    const int port = endpoint->Port();
    ASSERT_GT(port, 0);

    counter.Increment(3);
    const std::string metrics = Get(port, "/metrics");
    EXPECT_EQ(metrics.rfind("HTTP/1.1 200 OK\r\n", 0), 0U) << metrics;
    EXPECT_NE(metrics.find("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("\nlinetarvel_requests_total{address=\"A\"} 3\n"), std::string::npos)
        << metrics;
    // The server's own metrics stay out: one prefix.
    EXPECT_EQ(metrics.find("exposer_"), std::string::npos);

    const std::string landing = Get(port, "/");
    EXPECT_NE(landing.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
    EXPECT_NE(landing.find("boiler &lt;house&gt;"), std::string::npos) << landing;
    EXPECT_NE(landing.find("href=\"/metrics\""), std::string::npos);

    EXPECT_EQ(Get(port, "/metrics", "POST").rfind("HTTP/1.1 405 ", 0), 0U);
    EXPECT_NE(Get(port, "/metrics", "HEAD").find("Allow: GET"), std::string::npos);
    EXPECT_EQ(Get(port, "/other").rfind("HTTP/1.1 404 ", 0), 0U);
    EXPECT_EQ(Get(port, "/metrics/../etc/passwd").rfind("HTTP/1.1 404 ", 0), 0U);
}

TEST(MetricsEndpoint, AnAddressInUseIsToldWithTheHostsReason) {
    auto registry = std::make_shared<prometheus::Registry>();
    auto first = MetricsEndpoint::Start("127.0.0.1:0", registry, "first");
    ASSERT_EQ(first.index(), 0U);
    const int port = std::get<0>(first)->Port();
    const auto second =
        MetricsEndpoint::Start("127.0.0.1:" + std::to_string(port), registry, "second");
    ASSERT_EQ(second.index(), 1U);
    EXPECT_EQ(std::get<1>(second).rfind("cannot listen on 127.0.0.1:" + std::to_string(port), 0),
              0U)
        << std::get<1>(second);
}

TEST(MetricsEndpoint, AddressesAreReadAsTheOptionTakesThem) {
    const auto address = [](std::string_view given) {
        const auto read = MetricsAddress(given);
        return read.index() == 0 ? std::get<0>(read) : "refused: " + std::get<1>(read);
    };
    EXPECT_EQ(address("9780"), "127.0.0.1:9780");
    EXPECT_EQ(address("0.0.0.0:9780"), "0.0.0.0:9780");
    EXPECT_EQ(address("[::1]:9780"), "[::1]:9780");
    EXPECT_EQ(address("host:98x").rfind("refused", 0), 0U);
    EXPECT_EQ(address(":9780").rfind("refused", 0), 0U);
    EXPECT_EQ(address("::1:9780").rfind("refused", 0), 0U);
    EXPECT_EQ(address("127.0.0.1:65536").rfind("refused", 0), 0U);
}

// A datagram socket standing for systemd's notification socket.
struct FakeServiceManager {
    fs::path path = fs::temp_directory_path() / ("notify-" + std::to_string(::getpid()));
    int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);

    FakeServiceManager() {
        fs::remove(path);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        EXPECT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    }
    ~FakeServiceManager() {
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
        ::unsetenv("WATCHDOG_PID");
        ::close(socket);
        fs::remove(path);
    }
    // The messages sent so far.
    std::vector<std::string> Heard() const {
        std::vector<std::string> messages;
        char buffer[1024];
        for (ssize_t got; (got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
            messages.emplace_back(buffer, static_cast<std::size_t>(got));
        }
        return messages;
    }
};

TEST(ServiceNotifier, TellsReadinessOnceAndFeedsTheWatchdogOnlyAfterProgress) {
    FakeServiceManager systemd;
    ::setenv("WATCHDOG_USEC", "30000000", 1);
    ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
    ServiceNotifier notifier;
    ASSERT_TRUE(notifier.WatchdogPeriod());
    EXPECT_EQ(*notifier.WatchdogPeriod(), 15s);

    notifier.Ready("watching /dev/ttyUSB0");
    notifier.Ready("watching /dev/ttyUSB0");  // a reopening: no second READY
    EXPECT_TRUE(notifier.FeedWatchdog());     // the start is progress
    EXPECT_FALSE(notifier.FeedWatchdog());    // nothing since
    notifier.Progressed();
    EXPECT_TRUE(notifier.FeedWatchdog());
    notifier.Stopping();
    EXPECT_EQ(systemd.Heard(),
              (std::vector<std::string>{"READY=1\nSTATUS=watching /dev/ttyUSB0",
                                        "STATUS=watching /dev/ttyUSB0", "WATCHDOG=1", "WATCHDOG=1",
                                        "STOPPING=1\nSTATUS=stopping"}));
}

TEST(ServiceNotifier, WithoutAServiceManagerThereIsNoWatchdog) {
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    const ServiceNotifier notifier;
    EXPECT_FALSE(notifier.WatchdogPeriod());
}

struct DailyFilesTest : ::testing::Test {
    fs::path folder = fs::temp_directory_path() / ("daily-" + std::to_string(::getpid()));
    DailyFilesTest() { fs::create_directories(folder); }
    ~DailyFilesTest() override { fs::remove_all(folder); }
    void Make(const std::string& name) { std::ofstream(folder / name) << "x"; }
    bool There(const std::string& name) const { return fs::exists(folder / name); }
};

TEST_F(DailyFilesTest, ADayHasItsFileBesideTheNameGiven) {
    EXPECT_EQ(DailyFileName("/var/lib/w/traffic.csv", {2026, 12, 10}),
              "/var/lib/w/traffic-2026-12-10.csv");
    EXPECT_EQ(DailyFileName("traffic", {2027, 1, 2}), "traffic-2027-01-02");
    EXPECT_EQ(DailyFileName("a.b/log.csv", {2026, 3, 4}), "a.b/log-2026-03-04.csv");
}

TEST_F(DailyFilesTest, OnlyTheDaysBeyondTheKeptOnesAreRemovedAndNothingElse) {
    for (const char* name :
         {"traffic-2026-11-09.csv", "traffic-2026-11-10.csv", "traffic-2026-12-10.csv",
          "traffic-2025-02-30.csv", "traffic-2026-11-01.csv.gz", "traffic-old.csv",
          "other-2026-01-01.csv", "traffic-2026-1-01.csv", "traffic.csv"}) {
        Make(name);
    }
    fs::create_directories(folder / "traffic-2026-01-01.csv");  // a folder of that name stays
    // 31 days kept on 2026-12-10: from 2026-11-10 on.
    const OldDaysRemoved done =
        RemoveOldDays((folder / "traffic.csv").string(), {2026, 12, 10}, 31);
    EXPECT_TRUE(done.failures.empty());
    ASSERT_EQ(done.removed.size(), 1U);
    EXPECT_FALSE(There("traffic-2026-11-09.csv"));
    for (const char* kept :
         {"traffic-2026-11-10.csv", "traffic-2026-12-10.csv", "traffic-2025-02-30.csv",
          "traffic-2026-11-01.csv.gz", "traffic-old.csv", "other-2026-01-01.csv",
          "traffic-2026-1-01.csv", "traffic.csv", "traffic-2026-01-01.csv"}) {
        EXPECT_TRUE(There(kept)) << kept;
    }
    // One day kept: today's only.
    RemoveOldDays((folder / "traffic.csv").string(), {2026, 12, 10}, 1);
    EXPECT_FALSE(There("traffic-2026-11-10.csv"));
    EXPECT_TRUE(There("traffic-2026-12-10.csv"));
}

}  // namespace
}  // namespace tarvel
