// SPDX-License-Identifier: GPL-3.0-or-later
// What keeping the evidence on the disk costs: one rewrite of a full error list (900 records, the
// most a run makes) with its analysis report, each made and replaced whole and flushed; and the
// CPU a test run of line-tarvel-cli spends per exchange on the simulated line at the full rate,
// with and without --traffic and the other files.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Analysis.h"
#include "core/ListFile.h"
#include "platform/DurableFiles.h"

using namespace tarvel;

namespace {

double Milliseconds(std::chrono::steady_clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

void Rewrites(const std::filesystem::path& folder) {
    std::vector<std::string> records;
    for (int i = 0; i < 900; ++i) {
        const char address = static_cast<char>('A' + i % 5);
        records.push_back(std::string(1, address) + "  03:1" + std::to_string(i % 10) + ":00  " +
                          (i % 3 == 0 ? "CR not received !" : "No answer !") + "   " +
                          std::to_string(i % 3));
    }
    auto list = std::get<ReplacedFile>(ReplacedFile::Prepare((folder / "night.lst").string()));
    auto report = std::get<ReplacedFile>(ReplacedFile::Prepare((folder / "night.dat").string()));
    constexpr int kRounds = 200;
    std::vector<double> make;
    std::vector<double> write;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const std::string listBytes = FormatListFile(records);
        const std::string reportBytes = FormatListFile(Analyse(records).lines);
        const auto made = std::chrono::steady_clock::now();
        if (list.Replace(listBytes) || report.Replace(reportBytes)) {
            std::printf("a rewrite failed\n");
            return;
        }
        make.push_back(Milliseconds(made - start));
        write.push_back(Milliseconds(std::chrono::steady_clock::now() - made));
    }
    std::sort(make.begin(), make.end());
    std::sort(write.begin(), write.end());
    std::printf("Rewrite of a 900-record error list and its report (%d rounds, in %s):\n", kRounds,
                folder.c_str());
    std::printf("  made (format, analyse): median %.3f ms, max %.3f ms\n", make[kRounds / 2],
                make.back());
    std::printf("  written (2 files, fsync, rename, fsync of the folder): median %.3f ms, "
                "p95 %.3f ms, max %.3f ms\n",
                write[kRounds / 2], write[kRounds * 95 / 100], write.back());
}

struct RunCost {
    double cpuSeconds = 0;
    int exchanges = 0;
};

RunCost Run(const std::vector<std::string>& arguments) {
    int output[2];
    if (::pipe(output) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::close(output[0]);
        std::vector<char*> argv;
        static std::string program = TARVEL_CLI_PROGRAM;
        argv.push_back(program.data());
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(output[1]);
    std::string json;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(output[0], buffer, sizeof buffer)) > 0) {
        json.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(output[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const QJsonObject document = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime),
            document["line"].toObject()["exchanges"].toInt()};
}

void CpuPerExchange(const std::filesystem::path& folder) {
    const std::vector<std::string> line{"test",       "--simulate", "--addresses", "A,B,D,E",
                                        "--baud",     "9600",       "--retry",     "0",
                                        "--duration", "20s",        "--json"};
    std::vector<std::string> withFiles = line;
    for (const auto& [option, name] :
         {std::pair{"--traffic", "traffic.csv"}, std::pair{"--stats", "stats.csv"},
          std::pair{"--lst", "night.lst"}, std::pair{"--dat", "night.dat"}}) {
        withFiles.push_back(option);
        withFiles.push_back((folder / name).string());
    }
    std::printf("line-tarvel-cli test on the simulated line at 9600 baud, 20 s each "
                "(the simulated line's own thread counts too):\n");
    for (const auto& [what, arguments] :
         {std::pair{"without files", line},
          std::pair{"with --traffic --stats --lst --dat", withFiles}}) {
        const RunCost cost = Run(arguments);
        std::printf("  %-36s %d exchanges, %.3f s CPU, %.1f us CPU per exchange\n", what,
                    cost.exchanges, cost.cpuSeconds,
                    cost.exchanges > 0 ? cost.cpuSeconds * 1e6 / cost.exchanges : 0.0);
    }
}

}  // namespace

int main() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("evidence-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    Rewrites(folder);
    CpuPerExchange(folder);
    std::filesystem::remove_all(folder);
}
