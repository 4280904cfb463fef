// SPDX-License-Identifier: GPL-3.0-or-later
// The targets file Prometheus reads, made from the watches' confs as systemd reads them.

#include "watch/WatchTargets.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/JsonText.h"

namespace tarvel {
namespace {

WatchTarget TargetOf(const std::string& line, const std::string& conf,
                     const std::string& hostName = "plant-host",
                     const std::string& site = "plant-host") {
    auto target = WatchTargetOf(line, conf, hostName, site);
    if (const auto* reason = std::get_if<std::string>(&target)) {
        ADD_FAILURE() << *reason << "\nin: " << conf;
        return {};
    }
    return std::get<WatchTarget>(target);
}

std::string ReasonOf(const std::string& conf) {
    auto target = WatchTargetOf("kiln", conf, "plant-host", "plant-host");
    EXPECT_TRUE(std::holds_alternative<std::string>(target)) << conf;
    return std::holds_alternative<std::string>(target) ? std::get<std::string>(target) : "";
}

std::string AddressOf(const std::string& args) {
    return TargetOf("kiln", "ARGS=\"" + args + "\"").address;
}

TEST(ConfAssignments, KeysAndValuesAsSystemdReadsThem) {
    const auto read = ReadConfAssignments("# the kiln's line\n"
                                          "  ; another comment\n"
                                          "\n"
                                          "PLAIN=value\n"
                                          "  SPACED  =   some words   \n"
                                          "DOUBLE=\"  kept blanks  \"\n"
                                          "SINGLE='$no \\escapes'\n"
                                          "JOINED=\"a b\"'c d'e\n"
                                          "EMPTY=\n"
                                          "QUOTED_EMPTY=\"\"\n");
    EXPECT_EQ(read.at("PLAIN"), "value");
    EXPECT_EQ(read.at("SPACED"), "some words");
    EXPECT_EQ(read.at("DOUBLE"), "  kept blanks  ");
    EXPECT_EQ(read.at("SINGLE"), "$no \\escapes");
    EXPECT_EQ(read.at("JOINED"), "a bc de");
    EXPECT_EQ(read.at("EMPTY"), "");
    EXPECT_EQ(read.at("QUOTED_EMPTY"), "");
    EXPECT_EQ(read.size(), 7u);
}

TEST(ConfAssignments, BackslashesEscapeAndJoinLines) {
    const auto read = ReadConfAssignments("UNQUOTED=a\\ b\\\"c\n"
                                          "IN_DOUBLE=\"say \\\"hi\\\" \\$HOME \\n\"\n"
                                          "CONTINUED=--port /dev/ttyUSB0 \\\n"
                                          "  --metrics 127.0.0.1:9780\n"
                                          "CONTINUED_IN_QUOTES=\"one \\\n"
                                          "two\"\n"
                                          "ACROSS_LINES='one\n"
                                          "two'\n"
                                          "AFTER_QUOTES=\"a\"  'b'   c  \n"
                                          "KEPT_BLANK=a \\\n");
    EXPECT_EQ(read.at("UNQUOTED"), "a b\"c");
    EXPECT_EQ(read.at("IN_DOUBLE"), "say \"hi\" $HOME \\n");
    EXPECT_EQ(read.at("CONTINUED"), "--port /dev/ttyUSB0   --metrics 127.0.0.1:9780");
    EXPECT_EQ(read.at("CONTINUED_IN_QUOTES"), "one two");
    EXPECT_EQ(read.at("ACROSS_LINES"), "one\ntwo");
    EXPECT_EQ(read.at("AFTER_QUOTES"), "abc");
    EXPECT_EQ(read.at("KEPT_BLANK"), "a ");
}

TEST(ConfAssignments, TheLastOfAKeyCountsAndWrongLinesAssignNothing) {
    const auto read = ReadConfAssignments("ARGS=first\r\n"
                                          "just words\r\n"
                                          "=no key\r\n"
                                          "2X=digit first\r\n"
                                          "BAD-NAME=dash\r\n"
                                          "ARGS=second\r\n"
                                          "UNCLOSED=\"runs to the end");
    EXPECT_EQ(read.at("ARGS"), "second");
    EXPECT_EQ(read.at("UNCLOSED"), "runs to the end");
    EXPECT_EQ(read.size(), 2u);
    EXPECT_TRUE(ReadConfAssignments("").empty());
    EXPECT_TRUE(ReadConfAssignments("NO_END=\\").count("NO_END"));
}

TEST(WatchTarget, TheMetricsAddressOfArgsWithTheLinesNameAndSite) {
    const WatchTarget target = TargetOf(
        "kiln", "SITE=\"plant-a\"\n"
                "ARGS=\"--port /dev/ttyUSB0 --baud 9600 --protocol modbus-rtu --addresses 1-8 "
                "--metrics 192.0.2.7:9780 --traffic traffic.csv --stats stats.csv\"\n");
    EXPECT_EQ(target.line, "kiln");
    EXPECT_EQ(target.site, "plant-a");
    EXPECT_EQ(target.address, "192.0.2.7:9780");
}

TEST(WatchTarget, TheMetricsOptionIsReadAsTheCommandLineReadsIt) {
    EXPECT_EQ(AddressOf("--metrics=127.0.0.1:9781 --listen"), "127.0.0.1:9781");
    EXPECT_EQ(AddressOf("--metrics\t127.0.0.1:9782"), "127.0.0.1:9782");
    EXPECT_EQ(AddressOf("--metrics 127.0.0.1:1 --metrics=127.0.0.1:2"), "127.0.0.1:2");
    EXPECT_EQ(AddressOf("--metrics localhost:65535"), "localhost:65535");
    EXPECT_EQ(TargetOf("kiln", "ARGS=--listen --metrics 127.0.0.1:9780").address, "127.0.0.1:9780");
    // After "--" nothing is an option.
    EXPECT_EQ(AddressOf("--metrics 127.0.0.1:1 -- --metrics 127.0.0.1:2"), "127.0.0.1:1");
    // A value of another option is no --metrics.
    EXPECT_NE(ReasonOf("ARGS=\"--traffic --metrics-of-kiln.csv\"").find("no --metrics"),
              std::string::npos);
}

TEST(WatchTarget, AWatchOnEveryAddressIsScrapedByTheHostsName) {
    EXPECT_EQ(AddressOf("--metrics 0.0.0.0:9780"), "plant-host:9780");
    EXPECT_EQ(AddressOf("--metrics [::]:9781"), "plant-host:9781");
    EXPECT_EQ(TargetOf("kiln", "ARGS=--metrics=[::]:9780", "fd00::1").address, "[fd00::1]:9780");
    // Any other address is the one Prometheus reaches the watch at.
    EXPECT_EQ(AddressOf("--metrics [fd00::5]:9780"), "[fd00::5]:9780");
    EXPECT_EQ(AddressOf("--metrics [::1]:9780"), "[::1]:9780");
    EXPECT_EQ(AddressOf("--metrics watch-host.example:9780"), "watch-host.example:9780");
    // A port alone is where the watch listens: 127.0.0.1.
    EXPECT_EQ(AddressOf("--metrics 9780"), "127.0.0.1:9780");
}

TEST(WatchTarget, TheSiteIsTheConfsOrTheHostsOne) {
    EXPECT_EQ(TargetOf("kiln", "ARGS=--metrics=127.0.0.1:9780", "h", "north").site, "north");
    EXPECT_EQ(TargetOf("kiln", "SITE=\nARGS=--metrics=127.0.0.1:9780", "h", "north").site, "north");
    EXPECT_EQ(TargetOf("kiln", "SITE='Usine de Nîmes'\nARGS=--metrics=127.0.0.1:9780").site,
              "Usine de Nîmes");
}

TEST(WatchTarget, AConfWithoutAnAddressToScrapeSaysWhy) {
    EXPECT_NE(ReasonOf("SITE=plant-a\n").find("no ARGS"), std::string::npos);
    EXPECT_NE(ReasonOf("ARGS=\"--port /dev/ttyUSB0 --addresses 1-8\"").find("no --metrics"),
              std::string::npos);
    EXPECT_NE(ReasonOf("#ARGS=\"--metrics 127.0.0.1:9780\"").find("no ARGS"), std::string::npos);
    EXPECT_NE(ReasonOf("ARGS=\"--addresses 1-8 --metrics\"").find("without HOST:PORT"),
              std::string::npos);
    for (const char* wrong : {"127.0.0.1", "127.0.0.1:", ":9780", "127.0.0.1:0", "127.0.0.1:65536",
                              "127.0.0.1:97a0", "127.0.0.1:+978", "127.0.0.1:0000009780",
                              "fd00::5:9780", "[fd00::5]9780", "[fd00::5", "[]:9780"}) {
        const std::string reason = ReasonOf(std::string("ARGS=--metrics=") + wrong);
        EXPECT_NE(reason.find("is not HOST:PORT"), std::string::npos) << wrong << ": " << reason;
        EXPECT_NE(reason.find(wrong), std::string::npos) << reason;
    }
}

TEST(WatchTarget, LabelsThatAreNotUtf8AreRefused) {
    // Latin-1, as an old editor may save the file: Prometheus would refuse the whole file.
    EXPECT_NE(ReasonOf("SITE=N\xEEmes\nARGS=--metrics=127.0.0.1:9780").find("SITE is not UTF-8"),
              std::string::npos);
    auto target = WatchTargetOf("four\xF0\x9F\x98", "ARGS=--metrics=127.0.0.1:9780", "h", "s");
    ASSERT_TRUE(std::holds_alternative<std::string>(target));
    EXPECT_NE(std::get<std::string>(target).find("name is not UTF-8"), std::string::npos);
    // Overlong forms, a surrogate, beyond U+10FFFF, a lone continuation byte, a cut sequence.
    for (const char* wrong : {"\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xED\xA0\x80",
                              "\xF4\x90\x80\x80", "\x80", "\xE2\x82"}) {
        EXPECT_TRUE(std::holds_alternative<std::string>(WatchTargetOf(
            "kiln", std::string("SITE=") + wrong + "\nARGS=--metrics=127.0.0.1:9780", "h", "s")))
            << "accepted " << wrong;
    }
    EXPECT_EQ(TargetOf("\xE2\x82\xAC\xF0\x9F\x98\x80", "ARGS=--metrics=127.0.0.1:9780").line,
              "\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(FileSdTargets, OneObjectALineWithTheLineAndSiteLabels) {
    const std::vector<WatchTarget> targets{{"dryer", "plant-a", "plant-host:9781"},
                                           {"kiln", "plant-a", "[fd00::5]:9780"}};
    EXPECT_EQ(FormatFileSdTargets(targets),
              "[\n"
              "  {\"targets\":[\"plant-host:9781\"],\"labels\":{\"line\":\"dryer\","
              "\"site\":\"plant-a\"}},\n"
              "  {\"targets\":[\"[fd00::5]:9780\"],\"labels\":{\"line\":\"kiln\","
              "\"site\":\"plant-a\"}}\n"
              "]\n");
    EXPECT_EQ(FormatFileSdTargets({}), "[]\n");
}

TEST(FileSdTargets, AnyTextOfALabelIsValidJson) {
    const std::string site = "a \"quoted\" \\ site\twith\x01 controls\x1f and \xC3\xA9";
    const std::string json = FormatFileSdTargets({{"kiln", site, "h:1"}});
    const auto parsed = ParseJson(json);
    ASSERT_TRUE(std::holds_alternative<JsonValue>(parsed))
        << std::get<JsonSyntaxError>(parsed).message << "\n"
        << json;
    const JsonValue& list = std::get<JsonValue>(parsed);
    ASSERT_EQ(list.kind, JsonValue::Kind::Array);
    ASSERT_EQ(list.items.size(), 1u);
    const JsonValue& entry = list.items[0];
    ASSERT_EQ(entry.members.size(), 2u);
    EXPECT_EQ(entry.members[0].name, "targets");
    ASSERT_EQ(entry.members[0].value.items.size(), 1u);
    EXPECT_EQ(entry.members[0].value.items[0].text, "h:1");
    const JsonValue& labels = entry.members[1].value;
    ASSERT_EQ(labels.members.size(), 2u);
    EXPECT_EQ(labels.members[0].name, "line");
    EXPECT_EQ(labels.members[0].value.text, "kiln");
    EXPECT_EQ(labels.members[1].name, "site");
    EXPECT_EQ(labels.members[1].value.text, site);
}

struct WatchFolderTest : ::testing::Test {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("watch-targets-" + std::to_string(::getpid()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    WatchFolderTest() { std::filesystem::create_directories(folder); }
    ~WatchFolderTest() override { std::filesystem::remove_all(folder); }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(folder / name, std::ios::binary) << text;
    }
    WatchTargets Read() const { return ReadWatchTargets(folder, "plant-host", "plant-host"); }
};

TEST_F(WatchFolderTest, EveryConfIsATargetInTheOrderOfTheLinesNames) {
    Write("kiln.conf", "SITE=plant-a\nARGS=\"--port /dev/ttyUSB0 --metrics 0.0.0.0:9780\"\n");
    Write("dryer.conf", "ARGS=\"--port rfc2217://10.0.0.5:4001 --metrics=127.0.0.1:9781\"\n");
    Write("Belt-2.conf", "ARGS=\"--listen --metrics [::]:9782\"\n");
    // Not confs: the example, backups, notes, hidden files.
    Write("watch.conf.example", "ARGS=\"--metrics 127.0.0.1:9790\"\n");
    Write("kiln.conf~", "ARGS=\"--metrics 127.0.0.1:9791\"\n");
    Write("kiln.conf.dpkg-old", "ARGS=\"--metrics 127.0.0.1:9792\"\n");
    Write(".kiln.conf", "ARGS=\"--metrics 127.0.0.1:9793\"\n");
    Write(".conf", "ARGS=\"--metrics 127.0.0.1:9794\"\n");
    Write("README", "one conf per line\n");
    std::filesystem::create_directories(folder / "old");

    const WatchTargets read = Read();
    EXPECT_TRUE(read.problems.empty())
        << read.problems.front().file << ": " << read.problems.front().reason;
    EXPECT_EQ(FormatFileSdTargets(read.targets),
              "[\n"
              "  {\"targets\":[\"plant-host:9782\"],\"labels\":{\"line\":\"Belt-2\","
              "\"site\":\"plant-host\"}},\n"
              "  {\"targets\":[\"127.0.0.1:9781\"],\"labels\":{\"line\":\"dryer\","
              "\"site\":\"plant-host\"}},\n"
              "  {\"targets\":[\"plant-host:9780\"],\"labels\":{\"line\":\"kiln\","
              "\"site\":\"plant-a\"}}\n"
              "]\n");
}

TEST_F(WatchFolderTest, ConfsWithoutATargetAreToldAndLeftOut) {
    Write("belt.conf", "ARGS=\"--port /dev/ttyS1 --addresses A-E\"\n");
    Write("dryer.conf", "ARGS=\"--metrics 127.0.0.1:9781\"\n");
    Write("empty.conf", "");
    Write("kiln.conf", "ARGS=\"--metrics 127.0.0.1:9781\"\n");  // dryer's address
    Write("mill.conf", "ARGS=\"--metrics 127.0.0.1\"\n");
    std::filesystem::create_symlink(folder / "gone", folder / "press.conf");
    std::filesystem::create_directories(folder / "silo.conf");

    const WatchTargets read = Read();
    ASSERT_EQ(read.targets.size(), 1u);
    EXPECT_EQ(read.targets[0].line, "dryer");
    ASSERT_EQ(read.problems.size(), 6u);
    const auto problem = [&read](std::size_t i) {
        return read.problems[i].file + ": " + read.problems[i].reason;
    };
    EXPECT_EQ(read.problems[0].file, "belt.conf");
    EXPECT_NE(problem(0).find("no --metrics"), std::string::npos) << problem(0);
    EXPECT_EQ(read.problems[1].file, "empty.conf");
    EXPECT_NE(problem(1).find("no ARGS"), std::string::npos) << problem(1);
    EXPECT_EQ(read.problems[2].file, "kiln.conf");
    EXPECT_NE(problem(2).find("127.0.0.1:9781 is line dryer's"), std::string::npos) << problem(2);
    EXPECT_EQ(read.problems[3].file, "mill.conf");
    EXPECT_NE(problem(3).find("is not HOST:PORT"), std::string::npos) << problem(3);
    EXPECT_EQ(read.problems[4].file, "press.conf");
    EXPECT_NE(problem(4).find("cannot be read"), std::string::npos) << problem(4);
    EXPECT_EQ(read.problems[5].file, "silo.conf");
    EXPECT_NE(problem(5).find("is not a file"), std::string::npos) << problem(5);
}

TEST_F(WatchFolderTest, AFolderThatCannotBeReadIsTheProblem) {
    const WatchTargets read = ReadWatchTargets(folder / "missing", "plant-host", "plant-host");
    EXPECT_TRUE(read.targets.empty());
    ASSERT_EQ(read.problems.size(), 1u);
    EXPECT_EQ(read.problems[0].file, (folder / "missing").string());
    EXPECT_NE(read.problems[0].reason.find("cannot be read"), std::string::npos);

    Write("kiln.conf", "ARGS=--metrics=127.0.0.1:9780\n");
    const WatchTargets notFolder = ReadWatchTargets(folder / "kiln.conf", "h", "h");
    EXPECT_TRUE(notFolder.targets.empty());
    EXPECT_EQ(notFolder.problems.size(), 1u);

    const WatchTargets empty = ReadWatchTargets(folder / "..." / "..", "h", "h");
    EXPECT_EQ(empty.problems.size(), 1u);
}

}  // namespace
}  // namespace tarvel
