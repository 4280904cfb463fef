// SPDX-License-Identifier: GPL-3.0-or-later
// `counters` on virtual time: what each simulated Modbus controller counted, read back through
// the line, refusals and silences told apart, and the drop where noise enters marked.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/CliSessionFixture.h"
#include "protocol/Protocols.h"

namespace tarvel {
namespace {

// Controllers 1 to `count` of a Modbus RTU line at 4800 8N1 (the options' defaults), 200 m
// apart, the line noise entering at 500 m.
struct CliCountersTest : CliSessionTest {
    void Line(int count, double lineNoise = 0.0,
              std::function<void(std::vector<SimulatedController>&)> shape = {}) {
        std::vector<SimulatedController> controllers(static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < controllers.size(); ++i) {
            controllers[i].address = std::to_string(i + 1);
            controllers[i].position = 200.0 * static_cast<double>(i);
        }
        if (shape) {
            shape(controllers);
        }
        SimulatedBus simulated(controllers, lineNoise, 5, *ProtocolAt(1));
        simulated.SetNoisePosition(500.0);
        bus.reset();
        bus.emplace(line, std::move(simulated));
    }
    QJsonArray CountersJson(const std::vector<std::string>& more = {}) {
        out.str("");
        std::vector<std::string> arguments{"counters", "--protocol", "modbus-rtu", "--json"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        last = Run(arguments);
        document = QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
        return document["controllers"].toArray();
    }
    int last = -1;
    QJsonObject document;
};

TEST_F(CliCountersTest, EachCounterIsReadAsTheControllerKeptIt) {
    Line(3);
    ASSERT_EQ(Run({"test", "--protocol", "modbus-rtu", "--addresses", "1-3", "--sweeps", "10"}),
              kAllWell);
    const QJsonArray read = CountersJson({"--addresses", "1-3"});
    EXPECT_EQ(last, kAllWell) << err.str();
    ASSERT_EQ(read.size(), 3);
    // Every controller heard the 30 requests of the test and, each counter being read from all
    // before the next, the first reads of the controllers before it; each read is itself a
    // message, counted before it is answered.
    const int busMessages[] = {31, 32, 33};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject controller = read.at(i).toObject();
        const QJsonObject counters = controller["counters"].toObject();
        EXPECT_EQ(controller["address"].toInt(), i + 1);
        EXPECT_EQ(counters["busMessages"].toInt(), busMessages[i]);
        EXPECT_EQ(counters["crcErrors"].toInt(), 0);
        EXPECT_EQ(counters["addressed"].toInt(), 10 + 4);  // its reads up to the fourth
        EXPECT_EQ(counters["overruns"].toInt(), 0);
        EXPECT_EQ(controller["crcErrorsPerThousand"].toDouble(), 0.0);
        EXPECT_TRUE(controller["notSupported"].isNull());
        EXPECT_TRUE(controller["failure"].isNull());
        EXPECT_EQ(controller["readAt"].toString().left(13).toStdString(),
                  document["ended"].toString().left(13).toStdString());
    }
    EXPECT_TRUE(document["crcErrorsRiseAt"].isNull());  // a quiet line has no such drop

    // All cleared first, then read: each heard the same three frames since its clear, its own
    // read among them, wherever it comes in the pass.
    const QJsonArray cleared = CountersJson({"--addresses", "3,1,2", "--clear"});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cleared.at(i)["address"].toInt(), i + 1);  // in address order
        EXPECT_TRUE(cleared.at(i)["cleared"].toBool());
        EXPECT_EQ(cleared.at(i)["counters"]["busMessages"].toInt(), 3);
    }
    EXPECT_EQ(bus->Bus().Counts(0).busMessages, 9 + 9 + 9 - 1);
}

TEST_F(CliCountersTest, ARefusalIsNoFailureOfTheLineButASilentControllerIs) {
    Line(3, 0.0, [](std::vector<SimulatedController>& controllers) {
        controllers[1].fault = ControllerFault::Exception;
        controllers[1].exceptionCode = 1;
    });
    QJsonArray read = CountersJson({"--addresses", "1-2"});
    EXPECT_EQ(last, kAllWell);
    EXPECT_EQ(read.at(1)["notSupported"]["exceptionCode"].toInt(), 1);
    EXPECT_EQ(read.at(1)["notSupported"]["exception"].toString(), "illegal function");
    EXPECT_TRUE(read.at(1)["counters"].isNull());

    read = CountersJson({"--addresses", "1,4", "--retry", "0"});
    EXPECT_EQ(last, kLineFailures);
    EXPECT_EQ(read.at(1)["failure"].toString(), "No answer !");

    out.str("");
    EXPECT_EQ(Run({"counters", "--protocol", "modbus-rtu", "--addresses", "2,4", "--retry", "0"}),
              kLineFailures);
    EXPECT_NE(out.str().find("\n      2  not supported: exception 1 (illegal function)\n"
                             "      4  No answer !\n"),
              std::string::npos)
        << out.str();
}

TEST_F(CliCountersTest, TheDropWhereCrcErrorsBeginToRiseIsMarked) {
    Line(5, 0.003);
    Run({"test", "--protocol", "modbus-rtu", "--addresses", "1-5", "--sweeps", "200"});
    const QJsonArray read = CountersJson({"--addresses", "1-5"});
    ASSERT_EQ(read.size(), 5);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(read.at(i)["counters"]["crcErrors"].toInt(), 0) << i;
    }
    EXPECT_GT(read.at(3)["counters"]["crcErrors"].toInt(), 0);
    EXPECT_EQ(document["crcErrorsRiseAt"].toInt(), 4);

    out.str("");
    Run({"counters", "--protocol", "modbus-rtu", "--addresses", "1-5"});
    EXPECT_NE(out.str().find("  <- CRC errors rise here\n      5"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("median at address 4"), std::string::npos);
}

// The bus, with the time each character of the host and of the controllers left the wire.
class TimedBusPeer final : public LinePeer {
public:
    TimedBusPeer(SimulatedSerialLine& line, SimulatedBus bus) : line_(line), bus_(std::move(bus)) {
        line_.AttachPeer(this);
    }
    ~TimedBusPeer() override { line_.AttachPeer(nullptr); }
    void HostCharacter(std::uint8_t byte, Instant end, Duration characterTime) override {
        // The start of a request: how long the line was silent since the last answer ended.
        if (answeredSinceHost) {
            silences.push_back(end - characterTime - lastAnswerEnd);
        }
        answeredSinceHost = false;
        for (const TimedByte& answer :
             bus_.HostCharacter(byte, end, characterTime,
                                HostWire{line_.Settings().baud, FramingOf(line_.Settings())})) {
            line_.DeliverAt(answer.end, answer.byte);
            lastAnswerEnd = answer.end;
            answeredSinceHost = true;
        }
    }
    std::vector<Duration> silences;

private:
    SimulatedSerialLine& line_;
    SimulatedBus bus_;
    Instant lastAnswerEnd{};
    bool answeredSinceHost = false;
};

TEST_F(CliCountersTest, EachQuestionFollowsTheFrameGapAndWaitsTheAnswerWindowChosen) {
    bus.reset();
    std::vector<SimulatedController> controllers(2);
    controllers[0].address = "1";
    controllers[1].address = "2";
    TimedBusPeer timed(line, SimulatedBus(controllers, 0.0, 1, *ProtocolAt(1)));
    CountersJson({"--addresses", "1-2", "--clear"});
    EXPECT_EQ(last, kAllWell) << err.str();
    // 4800 8N1: a character takes 10 bits, 2.083 ms; 3.5 of them 7.29 ms.
    const Duration gap = std::chrono::microseconds(7291);
    ASSERT_EQ(timed.silences.size(), 2u + 16u - 1u);  // every question after the first
    for (const Duration silence : timed.silences) {
        EXPECT_GE(silence, gap);
        EXPECT_LT(silence, gap + std::chrono::milliseconds(3));
    }

    // An address nobody has: the question waits the window chosen, not the protocol's.
    const Instant start = time.Now();
    CountersJson({"--addresses", "9", "--retry", "0", "--answer-window", "0.1"});
    EXPECT_EQ(last, kLineFailures);
    EXPECT_LT(time.Now() - start, std::chrono::milliseconds(300));
}

TEST_F(CliCountersTest, ACounterThatCouldNotBeReadLeavesTheOthersRead) {
    Line(1, 0.0, [](std::vector<SimulatedController>& controllers) {
        controllers[0].fault = ControllerFault::BadCrc;
        controllers[0].faultRate = 0.3;
    });
    const QJsonArray read = CountersJson({"--addresses", "1", "--retry", "0"});
    ASSERT_EQ(read.size(), 1);
    const QJsonObject counters = read.at(0)["counters"].toObject();
    int known = 0;
    for (const QJsonValue value : counters) {
        known += value.isNull() ? 0 : 1;
    }
    EXPECT_EQ(read.at(0)["failure"].toString(), "CRC error !");
    EXPECT_GT(known, 1);
    EXPECT_LT(known, 8);
    EXPECT_EQ(last, kLineFailures);
}

TEST_F(CliCountersTest, AScanAsksEachModbusControllerFoundWhoItIs) {
    Line(2, 0.0, [](std::vector<SimulatedController>& controllers) {
        controllers[0].serverId = "TC100";
        controllers[0].vendor = "Acme Controls";
        controllers[0].productCode = "TC-100";
        controllers[0].revision = "2.1";
    });
    ASSERT_EQ(Run({"scan", "--protocol", "modbus-rtu", "--addresses", "1-3"}), kAllWell);
    EXPECT_NE(out.str().find("Controller 1 is Acme Controls TC-100 v2.1, server ID 'TC100' "
                             "running\nController 2 is not telling who it is\nScan finished"),
              std::string::npos)
        << out.str();

    out.str("");
    ASSERT_EQ(Run({"scan", "--protocol", "modbus-rtu", "--addresses", "1-3", "--json"}), kAllWell);
    const QJsonArray identities = QJsonDocument::fromJson(QByteArray::fromStdString(out.str()))
                                      .object()["identities"]
                                      .toArray();
    ASSERT_EQ(identities.size(), 2);
    EXPECT_EQ(identities.at(0)["vendor"].toString(), "Acme Controls");
    EXPECT_EQ(identities.at(0)["serverId"].toString(), "TC100");
    EXPECT_TRUE(identities.at(0)["running"].toBool());
    EXPECT_TRUE(identities.at(1)["vendor"].isNull());
    EXPECT_TRUE(identities.at(1)["text"].isNull());
}

}  // namespace
}  // namespace tarvel
