// SPDX-License-Identifier: GPL-3.0-or-later
// A command of line-tarvel-cli run on virtual time against a simulated line, and what it printed
// and wrote.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliSession.h"
#include "platform/TextFiles.h"
#include "platform/VirtualTime.h"
#include "sim/SimulatedSerialLine.h"
#include "support/Run.h"

namespace tarvel {

struct CliSessionTest : ::testing::Test {
    VirtualTime time;
    SimulatedSerialLine line{time};
    SerialLine* hostLine = &line;  // the top of the stack the session speaks through
    std::optional<BusPeer> bus{std::in_place, line, SimulatedBus(DemoControllers(), 0.0, 1)};
    std::ostringstream out;
    std::ostream* output = &out;  // what the session prints its results on
    std::ostringstream err;
    bool progress = false;
    std::filesystem::path folder;
    // Called on the session once the run has judged this many exchanges.
    std::function<void(CliSession&)> meanwhile;
    std::uint64_t meanwhileAfter = 0;

    explicit CliSessionTest(TimeOfDay startOfDay = {8, 0, 0}) : time(startOfDay) {
        folder = std::filesystem::temp_directory_path() /
                 ("cli-session-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    ~CliSessionTest() override { std::filesystem::remove_all(folder); }

    std::string File(const std::string& name) const { return (folder / name).string(); }
    std::string Read(const std::string& name) const {
        std::string bytes;
        EXPECT_FALSE(ReadWholeFile(File(name), bytes)) << name;
        return bytes;
    }

    int Run(const std::vector<std::string>& arguments) {
        const CliOptions options = ParseCliArguments(arguments);
        EXPECT_EQ(options.error, "");
        CliSession session(options, CliHost{time, *hostLine, *output, err, progress, "/dev/ttyS9"});
        std::optional<int> status;
        auto task = testing::StoreResult(session.Run(), status);
        if (meanwhile) {
            EXPECT_TRUE(
                time.RunUntil([&] { return session.Monitor().Traffic().Added() >= meanwhileAfter; },
                              std::chrono::hours(1)));
            meanwhile(session);
        }
        EXPECT_TRUE(time.RunUntil([&] { return status.has_value(); }, std::chrono::hours(48)));
        return status.value_or(-1);
    }
};

}  // namespace tarvel
