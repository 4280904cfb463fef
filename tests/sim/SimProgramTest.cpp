// SPDX-License-Identifier: GPL-3.0-or-later
// line-tarvel-sim as it is run by hand: a line described in a file, an echoing adapter, and a
// wrong file refused before a device is made. Real time on a pseudo-terminal, a second or so.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The simulator started with `arguments`, its standard output and error on pipes.
struct Simulator {
    pid_t pid = -1;
    int out = -1;
    int err = -1;

    explicit Simulator(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), TARVEL_SIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        int outPipe[2], errPipe[2];
        EXPECT_EQ(::pipe2(outPipe, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(errPipe, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        EXPECT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        out = outPipe[0];
        err = errPipe[0];
    }
    ~Simulator() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(out);
        ::close(err);
    }
    // What `fd` gives until `enough` says so, it ends, or a few seconds pass.
    static std::string ReadFrom(int fd, bool (*enough)(const std::string&)) {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!enough(text) && std::chrono::steady_clock::now() < deadline) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0) {
                continue;
            }
            char bytes[256];
            const ssize_t got = ::read(fd, bytes, sizeof bytes);
            if (got <= 0) {
                break;
            }
            text.append(bytes, static_cast<std::size_t>(got));
        }
        return text;
    }
    int Wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

bool Never(const std::string&) { return false; }
bool Line(const std::string& text) { return text.find('\n') != std::string::npos; }

TEST(SimProgram, AWrongLineFileIsToldInOneLineAndNoDeviceIsMade) {
    const std::string path = ::testing::TempDir() + "sim-wrong-line.json";
    std::ofstream(path) << "{ \"controllers\": [ { \"address\": \"A\", \"faultRate\": 2 } ] }\n";
    Simulator simulator({"--line", path});
    EXPECT_EQ(Simulator::ReadFrom(simulator.out, Never), "");
    EXPECT_EQ(
        Simulator::ReadFrom(simulator.err, Never),
        "line-tarvel-sim: " + path + ":1: controllers[0].faultRate: 2 is out of range (0 to 1)\n");
    EXPECT_EQ(simulator.Wait(), 2);
    Simulator echoWithMaster({"--master", "--echo"});
    EXPECT_NE(Simulator::ReadFrom(echoWithMaster.err, Never).find("--echo goes without --master"),
              std::string::npos);
    EXPECT_EQ(echoWithMaster.Wait(), 2);
}

TEST(SimProgram, TheFilesLineAnswersAndEchoesWhatIsSent) {
    // Only B is on this line; --echo gives back the request before B's answer.
    const std::string path = ::testing::TempDir() + "sim-one-line.json";
    std::ofstream(path)
        << "{ \"controllers\": [ { \"address\": \"B\", \"answerDelayMs\": 2 } ] }\n";
    Simulator simulator({"--line=" + path, "--echo"});
    std::string device = Simulator::ReadFrom(simulator.out, Line);
    ASSERT_TRUE(Line(device)) << device;
    device.pop_back();
    EXPECT_EQ(Simulator::ReadFrom(simulator.err, Line),
              "line-tarvel-sim: " + path + ": controller B healthy, the adapter echoes\n");
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << device;
    termios raw{};
    ASSERT_EQ(::tcgetattr(fd, &raw), 0);
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &raw), 0);
    ASSERT_EQ(::write(fd, "A?X  \rB?X  \r", 12), 12);
    const std::string back =
        Simulator::ReadFrom(fd, [](const std::string& text) { return text.size() >= 17; });
    ::close(fd);
    ASSERT_EQ(back.size(), 17u) << back;
    EXPECT_EQ(back.substr(0, 13), "A?X  \rB?X  \rB");
    EXPECT_EQ(back.back(), '\r');
    ::kill(simulator.pid, SIGTERM);
    EXPECT_EQ(simulator.Wait(), 0);
}

}  // namespace
