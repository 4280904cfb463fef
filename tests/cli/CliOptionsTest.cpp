// SPDX-License-Identifier: GPL-3.0-or-later
// Reading line-tarvel-cli's command line: what each option takes, and a one-line refusal naming
// the option and its allowed values for anything else.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cli/CliOptions.h"
#include "serial/PortService.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

CliOptions Parse(std::vector<std::string> arguments) { return ParseCliArguments(arguments); }

TEST(CliOptionsTest, LineOptionsChooseThePortDialogsEntries) {
    const CliOptions options = Parse({"scan", "--baud", "9600", "--parity=even", "--stop-bits", "2",
                                      "--retry", "0", "--port", "/dev/ttyUSB0"});
    ASSERT_EQ(options.error, "");
    EXPECT_EQ(options.command, CliCommand::Scan);
    EXPECT_EQ(PortDialogEntries::Bauds()[options.line.baud], "9600");
    EXPECT_EQ(PortDialogEntries::Parities()[options.line.parity], "Even");
    EXPECT_EQ(PortDialogEntries::StopBits()[options.line.stopBits], "2");
    EXPECT_EQ(PortDialogEntries::Retries()[options.line.retry], "0");
    // A device is reached as COM1.
    EXPECT_EQ(options.line.port, 0);
    ASSERT_EQ(options.assignments.size(), 1u);
    EXPECT_EQ(options.assignments[0].device, "/dev/ttyUSB0");

    // The presets are the port dialog's, but for the retries.
    const CliOptions presets = Parse({"scan"});
    EXPECT_EQ(PortDialogEntries::Bauds()[presets.line.baud], "4800");
    EXPECT_EQ(PortDialogEntries::Retries()[presets.line.retry], "2");
    EXPECT_TRUE(presets.assignments.empty());

    const CliOptions com3 = Parse({"send", "A?X  ", "--port", "COM3=/dev/ttyS7"});
    EXPECT_EQ(com3.line.port, 2);
    EXPECT_EQ(com3.assignments[0].number, 3);
    EXPECT_EQ(Parse({"send", "A?X  ", "--port", "com2"}).line.port, 1);
    const CliOptions lowerCase = Parse({"scan", "--port=com4=/dev/ttyUSB1"});
    ASSERT_EQ(lowerCase.error, "");
    EXPECT_EQ(lowerCase.line.port, 3);
    EXPECT_EQ(lowerCase.assignments[0].device, "/dev/ttyUSB1");
}

TEST(CliOptionsTest, CommandsTakeTheirOperandsAndFiles) {
    const CliOptions test = Parse({"test", "--addresses", "A,B,@", "--sweeps", "3", "--lst",
                                   "night.lst", "--dat", "night.dat", "--json"});
    ASSERT_EQ(test.error, "");
    EXPECT_EQ(test.addresses, (std::vector<Station>{0, 1, 63}));  // the address indexes
    EXPECT_EQ(test.sweeps, 3);
    EXPECT_EQ(test.lstFile, "night.lst");
    EXPECT_TRUE(test.json);

    EXPECT_EQ(Parse({"test", "--cfg", "line.cfg", "--duration", "10m"}).duration, 10min);
    // Listening takes the line options, a duration and its own answer window, and no output
    // that only a test makes.
    const CliOptions listen =
        Parse({"listen", "--port", "COM2", "--duration", "8h", "--answer-window", "350ms",
               "--traffic", "t.csv", "--stats", "s.csv", "--json"});
    ASSERT_EQ(listen.error, "");
    EXPECT_EQ(listen.command, CliCommand::Listen);
    EXPECT_EQ(listen.answerWindow, 350ms);
    EXPECT_EQ(listen.duration, 8h);
    EXPECT_EQ(Parse({"listen", "--answer-window", "0.2"}).answerWindow, 200ms);
    EXPECT_EQ(Parse({"listen", "--answer-window=1.5s"}).answerWindow, 1500ms);
    EXPECT_EQ(Parse({"listen", "--lst", "x.lst"}).error, "listen does not take --lst");
    EXPECT_EQ(Parse({"listen", "--retry", "1"}).error, "listen does not take --retry");
    EXPECT_EQ(CommandUsage(CliCommand::Listen).find("after the exchange in progress"),
              std::string::npos);
    EXPECT_NE(Parse({"listen", "--answer-window", "0"}).error.find("invalid --answer-window"),
              std::string::npos);
    EXPECT_NE(Parse({"listen", "--answer-window", "11s"}).error, "");
    EXPECT_NE(Parse({"listen", "--answer-window", "fast"}).error, "");
    EXPECT_NE(Parse({"listen", "extra"}).error.find("unexpected argument"), std::string::npos);
    // Ranges in the order of the address rule, mixed with single addresses.
    EXPECT_EQ(Parse({"test", "--addresses", "A-E,@"}).addresses,
              (std::vector<Station>{0, 1, 2, 3, 4, 63}));
    EXPECT_EQ(Parse({"test", "--addresses", "Z-\\"}).addresses, (std::vector<Station>{25, 26, 27}));
    EXPECT_EQ(Parse({"test", "--addresses", "A-@"}).addresses.size(), 64u);
    const CliOptions evidence = Parse({"scan", "--traffic", "t.csv", "--stats", "s.csv"});
    EXPECT_EQ(evidence.trafficFile, "t.csv");
    EXPECT_EQ(evidence.statsFile, "s.csv");
    // Which entry chose the port, for the reports.
    EXPECT_EQ(Parse({"scan"}).portEntry, "COM1");
    EXPECT_EQ(Parse({"scan", "--port", "com3"}).portEntry, "COM3");
    EXPECT_EQ(Parse({"scan", "--port", "COM2=/dev/ttyUSB0"}).portEntry, "COM2");
    EXPECT_EQ(Parse({"scan", "--port", "/dev/ttyUSB0"}).portEntry, "");
    // Each command's help names every exit status.
    for (const CliCommand command : {CliCommand::Scan, CliCommand::Test, CliCommand::Listen,
                                     CliCommand::Analyse, CliCommand::Send}) {
        const std::string help = CommandUsage(command);
        for (const char* status : {" 0 ", " 2 a usage error", " 3 "}) {
            EXPECT_NE(help.find(status), std::string::npos) << CommandName(command) << status;
        }
    }
    EXPECT_NE(CommandUsage(CliCommand::Test).find(" 1 an exchange failed"), std::string::npos);
    EXPECT_EQ(Parse({"analyse", "list.lst"}).listFile, "list.lst");
    const CliOptions send = Parse({"send", "--value", "A=123", "--", "-odd"});
    EXPECT_EQ(send.frame, "-odd");
    EXPECT_EQ(send.value, "A=123");
    EXPECT_TRUE(Parse({"test", "--help"}).help);
    EXPECT_EQ(Parse({"test", "--help"}).command, CliCommand::Test);

    EXPECT_EQ(ParseDuration("90s"), 90s);
    EXPECT_EQ(ParseDuration("45"), 45s);
    EXPECT_EQ(ParseDuration("8h"), 8h);
    for (const char* bad : {"", "0m", "-5s", "5d", "m", "1.5h", "9999999h"}) {
        EXPECT_FALSE(ParseDuration(bad).has_value()) << bad;
    }
}

TEST(CliOptionsTest, EveryInvalidCommandLineIsRefusedWithAMessageThatNamesTheProblem) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;  // a part of the expected message
    };
    const Case cases[] = {
        {{"scan", "--baud", "1234"},
         "invalid --baud \"1234\": allowed are 150, 300, 600, 1200, 2400, 4800, 9600"},
        {{"scan", "--parity", "mark"}, "invalid --parity \"mark\": allowed are none, even or odd"},
        {{"scan", "--stop-bits", "3"}, "--stop-bits \"3\": allowed are 1 or 2"},
        {{"scan", "--retry", "5"}, "--retry \"5\": allowed are 0 to 4"},
        {{"scan", "--port", "COM5"}, "invalid --port \"COM5\""},
        {{"scan", "--baud"}, "--baud needs a value"},
        {{"scan", "--colour"}, "unknown option \"--colour\""},
        {{"fly"}, "unknown command \"fly\""},
        {{}, "no command given"},
        {{"scan", "extra"}, "unexpected argument \"extra\""},
        {{"test"}, "test needs either --cfg FILE or --addresses"},
        {{"test", "--cfg", "a.cfg", "--addresses", "A"},
         "--cfg FILE or --addresses A,B,..., not both"},
        {{"test", "--addresses", "A,,B"}, "invalid --addresses"},
        {{"test", "--addresses", "#"}, "invalid --addresses"},
        {{"test", "--addresses", "A,B,A"}, "invalid --addresses \"A,B,A\""},
        {{"test", "--addresses", "A-C,B"}, "invalid --addresses \"A-C,B\""},
        {{"test", "--addresses", "E-A"}, "invalid --addresses"},
        {{"test", "--addresses", "A-"}, "invalid --addresses"},
        {{"test", "--addresses", "A--C"}, "invalid --addresses"},
        {{"test", "--addresses", "A", "--lst", "x", "--dat", "x"},
         "--lst and --dat name the same file"},
        {{"test", "--cfg", "line.cfg", "--traffic", "line.cfg"},
         "--cfg and --traffic name the same file"},
        {{"scan", "--lst", "x.lst"}, "scan does not take --lst"},
        {{"test", "--addresses", "A", "--sweeps", "0"}, "--sweeps \"0\""},
        {{"test", "--addresses", "A", "--sweeps", "2", "--duration", "1m"}, "not both"},
        {{"test", "--addresses", "A", "--duration", "soon"}, "--duration \"soon\""},
        {{"analyse"}, "analyse takes one error list file"},
        {{"send"}, "send takes one frame"},
        {{"scan", "--simulate", "--port", "/dev/ttyS0"}, "exclude each other"},
        {{"scan", "--simulate", "--rs485"}, "--simulate and --rs485 exclude each other"},
        {{"scan", "--rs485-delays", "5"}, "invalid --rs485-delays \"5\""},
        {{"scan", "--rs485-delays", "0,101"}, "each 0 to 100"},
        {{"scan", "--rs485=on"}, "--rs485 takes no value"},
    };
    for (const Case& bad : cases) {
        const CliOptions options = Parse(bad.arguments);
        EXPECT_NE(options.error.find(bad.message), std::string::npos)
            << "got \"" << options.error << "\" for: " << ::testing::PrintToString(bad.arguments);
        EXPECT_EQ(options.error.find('\n'), std::string::npos);
    }
}

TEST(CliOptionsTest, TwoSpellingsOfOneFileAreCaughtBeforeAnythingIsSent) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("cli-options-" + std::to_string(::getpid()));
    fs::create_directories(folder / "sub");
    { std::ofstream(folder / "x.lst") << ""; }
    fs::create_symlink(folder / "x.lst", folder / "link.lst");
    const std::string x = (folder / "x.lst").string();
    const std::vector<std::pair<std::string, std::string>> same{
        {x, (folder / "." / "x.lst").string()},
        {x, (folder / "sub" / ".." / "x.lst").string()},
        {x, (folder / "link.lst").string()},  // a link and the file it names
        // Neither there yet: written the same way, after the folders' own links.
        {(folder / "new.csv").string(), (folder / "sub" / ".." / "new.csv").string()},
    };
    for (const auto& [one, other] : same) {
        EXPECT_EQ(Parse({"test", "--addresses", "A", "--lst", one, "--traffic", other}).error,
                  "--lst and --traffic name the same file")
            << one << " " << other;
    }
    EXPECT_EQ(Parse({"test", "--addresses", "A", "--lst", x, "--traffic",
                     (folder / "sub" / "x.lst").string()})
                  .error,
              "");
    fs::remove_all(folder);
}

TEST(CliOptionsTest, Rs485IsALineOptionOfEveryCommandWithALine) {
    using std::chrono::milliseconds;
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"scan"}, {"test", "--addresses", "A"}, {"listen"}, {"send", "A?X  "}}) {
        std::vector<std::string> withRs485 = arguments;
        withRs485.push_back("--rs485");
        const CliOptions options = Parse(withRs485);
        EXPECT_EQ(options.error, "") << ::testing::PrintToString(withRs485);
        EXPECT_EQ(options.rs485, Rs485Mode{}) << ::testing::PrintToString(withRs485);
        EXPECT_FALSE(Parse(arguments).rs485.has_value());
    }
    // The delays imply the mode; --rs485 beside them keeps them, in either order.
    const Rs485Mode delayed{milliseconds(1), milliseconds(3)};
    EXPECT_EQ(Parse({"scan", "--rs485-delays=1,3"}).rs485, delayed);
    EXPECT_EQ(Parse({"scan", "--rs485-delays", "1,3", "--rs485"}).rs485, delayed);
    EXPECT_EQ(Parse({"scan", "--rs485", "--rs485-delays", "1,3"}).rs485, delayed);
    EXPECT_EQ(Parse({"analyse", "f.lst", "--rs485"}).error, "analyse does not take --rs485");
    EXPECT_NE(CommandUsage(CliCommand::Send).find("--rs485-delays BEFORE,AFTER"),
              std::string::npos);
}

TEST(CliOptionsTest, APortValueThatLooksLikeComnEqualsDeviceMustBeOne) {
    // Taken for a device name, each would fail only once the line is wanted, with status 3.
    for (const char* bad : {"COM5=/dev/ttyUSB0", "com0=/dev/ttyUSB0", "COM=/dev/ttyUSB0",
                            "COM12=/dev/ttyUSB0", "Com1=", "COM1:/dev/ttyUSB0=x"}) {
        const CliOptions options = Parse({"scan", "--port", bad});
        EXPECT_EQ(options.error, "invalid --port \"" + std::string(bad) +
                                     "\": allowed are a device such as /dev/ttyUSB0, COM1 to "
                                     "COM4, or COMn=DEVICE with n from 1 to 4")
            << bad;
        EXPECT_TRUE(options.assignments.empty()) << bad;
    }
    // A device whose name merely holds "com" or "=" is still a device.
    EXPECT_EQ(Parse({"scan", "--port", "/dev/com=1"}).assignments.at(0).device, "/dev/com=1");
    EXPECT_EQ(Parse({"scan", "--port", "./COM5"}).assignments.at(0).device, "./COM5");
}

TEST(CliOptionsTest, TheModbusProtocolsTakeNumberedAddressesTheirSpeedsAndNoAsconFiles) {
    const CliOptions test =
        Parse({"test", "--addresses", "1-3,17", "--protocol", "modbus-rtu", "--baud", "19200",
               "--parity", "even", "--register", "100", "--count", "2", "--answer-window", "0.3"});
    ASSERT_EQ(test.error, "");
    EXPECT_EQ(test.addresses, (std::vector<Station>{1, 2, 3, 17}));
    EXPECT_EQ(test.baudRate, 19200);
    EXPECT_EQ(test.request.start, 100);
    EXPECT_EQ(test.request.count, 2);
    EXPECT_EQ(test.answerWindow, 300ms);
    Primo primo;
    ApplyLineOptions(test, primo);
    EXPECT_EQ(SettingsText(primo), " 19200,E,8, 1");  // RTU always has eight data bits
    EXPECT_EQ(ProtocolOf(test)->RequestFor(17, ExchangeKind::Test),
              std::string("\x11\x03\x00\x64\x00\x02\x87\x44", 8));
    EXPECT_EQ(Parse({"scan", "--protocol", "jbus-rtu", "--addresses", "250-255"}).addresses.size(),
              6u);
    const CliOptions send =
        Parse({"send", "--protocol", "modbus-rtu", "--hex", "01 03 00 00 00 01"});
    ASSERT_EQ(send.error, "");
    EXPECT_EQ(send.frame, std::string("\x01\x03\x00\x00\x00\x01", 6));

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"test", "--protocol", "modbus-rtu", "--addresses", "0"},
         "invalid --addresses \"0\": allowed are different addresses from 1 to 247"},
        {{"test", "--protocol", "modbus-rtu", "--addresses", "240-248"}, "invalid --addresses"},
        {{"test", "--protocol", "modbus-rtu", "--addresses", "1-300"}, "invalid --addresses"},
        {{"test", "--protocol", "modbus-rtu", "--addresses", "A"}, "invalid --addresses"},
        {{"test", "--protocol", "modbus-rtu", "--addresses", "1-65"}, "at most 64 controllers"},
        {{"test", "--addresses", "A", "--baud", "19200"},
         "invalid --baud \"19200\": allowed are 150, 300, 600, 1200, 2400, 4800, 9600"},
        {{"scan", "--protocol", "modbus-rtu", "--baud", "300"},
         "invalid --baud \"300\": with --protocol modbus-rtu allowed are 1200, 2400"},
        {{"scan", "--protocol", "modbus"},
         "invalid --protocol \"modbus\": allowed are ascon, "
         "modbus-rtu, jbus-rtu"},
        {{"test", "--protocol", "modbus-rtu", "--addresses", "1", "--lst", "x.lst"},
         "--lst holds Ascon addresses only; with --protocol modbus-rtu use --traffic"},
        {{"scan", "--protocol", "jbus-rtu", "--cfg", "x.cfg"}, "--cfg holds Ascon addresses only"},
        {{"scan", "--register", "3"}, "--register and --count go with the Modbus protocols"},
        {{"scan", "--protocol", "modbus-rtu", "--count", "126"}, "invalid --count \"126\""},
        {{"send", "--protocol", "modbus-rtu", "01 03"}, "takes its frame in hexadecimal"},
        {{"send", "--hex", "01 0"}, "invalid --hex"},
        {{"counters", "--addresses", "A"}, "counters reads what Modbus controllers count"},
        {{"counters", "--protocol", "modbus-ascii"}, "counters needs --addresses"},
        {{"counters", "--protocol", "jbus-rtu", "--addresses", "1", "--stats", "s.csv"},
         "counters does not take --stats"},
        {{"test", "--protocol", "modbus-rtu", "--addresses", "1", "--clear"},
         "test does not take --clear"},
        {{"send", "--hex", "01", "A?X"}, "either in hexadecimal with --hex or as text"},
    };
    for (const auto& [arguments, error] : refused) {
        SCOPED_TRACE(arguments.back());
        EXPECT_NE(Parse(arguments).error.find(error), std::string::npos) << Parse(arguments).error;
    }
}

TEST(CliOptionsTest, TheAsciiFramingsTakeSevenDataBitsUnlessToldEight) {
    const CliOptions seven =
        Parse({"scan", "--protocol", "modbus-ascii", "--baud", "19200", "--parity", "even"});
    ASSERT_EQ(seven.error, "");
    Primo primo;
    ApplyLineOptions(seven, primo);
    EXPECT_EQ(SettingsText(primo), " 19200,E,7, 1");
    EXPECT_EQ(ProtocolOf(seven)->RequestFor(17, ExchangeKind::Test), ":110300000001EB\r\n");
    const CliOptions eight = Parse({"test", "--protocol", "jbus-ascii", "--addresses", "250",
                                    "--parity", "none", "--data-bits", "8"});
    ASSERT_EQ(eight.error, "");
    ApplyLineOptions(eight, primo);
    EXPECT_EQ(primo.DataBitsText, "8");
    EXPECT_NE(Parse({"scan", "--protocol", "modbus-rtu", "--data-bits", "7"})
                  .error.find("--data-bits goes with the ASCII framings"),
              std::string::npos);
    EXPECT_NE(Parse({"scan", "--protocol", "modbus-ascii", "--data-bits", "6"})
                  .error.find("invalid --data-bits \"6\": allowed are 7 or 8"),
              std::string::npos);
}

TEST(CliOptionsTest, ACommandRefusesTheOptionsItDoesNotTake) {
    const std::pair<std::vector<std::string>, std::string> misplaced[] = {
        {{"scan", "--lst", "x.lst"}, "scan does not take --lst"},
        {{"scan", "--sweeps", "2"}, "scan does not take --sweeps"},
        {{"send", "A?X  ", "--json"}, "send does not take --json"},
        {{"send", "A?X  ", "--cfg=x.cfg"}, "send does not take --cfg"},
        {{"analyse", "f.lst", "--baud", "9600"}, "analyse does not take --baud"},
        {{"analyze", "f.lst", "--simulate"}, "analyse does not take --simulate"},
        {{"test", "--addresses", "A", "--value", "x"}, "test does not take --value"},
        {{"--list-ports", "--baud", "9600"}, "--list-ports does not take --baud"},
        {{"--list-ports", "scan"}, "--list-ports goes without a command"},
    };
    for (const auto& [arguments, message] : misplaced) {
        EXPECT_EQ(Parse(arguments).error, message) << ::testing::PrintToString(arguments);
    }
    const CliOptions listPorts = Parse({"--list-ports", "--port", "COM2=/dev/ttyUSB3"});
    ASSERT_EQ(listPorts.error, "");
    EXPECT_EQ(listPorts.command, CliCommand::ListPorts);
    EXPECT_EQ(listPorts.assignments.at(0).number, 2);
}

TEST(CliOptionsTest, HelpAndVersionAreAnsweredWhateverElseIsWrong) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--baud", "1234", "--help"}, {"--help", "fly"}, {"--list-ports", "scan", "-h"}}) {
        const CliOptions options = Parse(arguments);
        EXPECT_TRUE(options.help) << ::testing::PrintToString(arguments);
        EXPECT_EQ(options.error, "") << ::testing::PrintToString(arguments);
    }
    const CliOptions scanHelp = Parse({"scan", "--lst", "x", "--help"});
    EXPECT_EQ(scanHelp.command, CliCommand::Scan);
    EXPECT_EQ(scanHelp.error, "");
    const CliOptions version = Parse({"--list-ports", "--baud", "5", "--version"});
    EXPECT_TRUE(version.version);
    EXPECT_EQ(version.error, "");
    // Without them the mistake is told, --list-ports or not.
    EXPECT_NE(Parse({"--list-ports", "scan", "--baud", "5"}).error.find("invalid --baud"),
              std::string::npos);
}

}  // namespace
}  // namespace tarvel
