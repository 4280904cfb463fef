// SPDX-License-Identifier: GPL-3.0-or-later
// Golden pins of line-tarvel-cli's reports, as text and as JSON: a small test run, and listening
// to a scripted line (a master's requests and its controllers' answers, byte by byte, at fixed
// times) with the exchanges judged, the statistics and the traffic. All on virtual time; the
// wall clock reads 08:00:00 on 2026-12-09, UTC+01:00, when the virtual clock starts. The literals
// are the contract: a change to any of them is a change of behaviour and needs a reason.

#include <gtest/gtest.h>

#include "golden/GoldenLine.h"

namespace tarvel {
namespace {

using golden::ScriptedBus;

std::map<std::string, golden::Answer> FourControllers() {
    return {{"A", {"A215\r"}}, {"C", {"C215\n"}}, {"D", {"D2150\r", 10ms, true}}};
}

TEST(ReportGolden, ATestRunAsText) {
    golden::CliRig rig;
    ScriptedBus bus{rig.line, FourControllers()};
    EXPECT_EQ(rig.Command({"test", "--baud", "9600", "--addresses", "A,B,C,D", "--sweeps", "1",
                           "--retry", "1"}),
              kLineFailures);
    EXPECT_EQ(
        rig.out.str(),
        R"(line-tarvel-cli 3.beta, test on /dev/ttyS9 (COM1) at 9600 8N1, retry 1, from 2026-12-09T08:00:00+01:00 to 2026-12-09T08:00:02+01:00
Test run over 4 controllers: 1 sweep, 7 exchanges in 2 s, 6 errors; ended by the sweeps asked for

Analysis:
 The total numbers of Errors is:   6
 Instrument # B -  2 Errors ( 33%) - C( 0%) - W( 0%) - N( 100%)
 Instrument # C -  2 Errors ( 33%) - C( 100%) - W( 0%) - N( 0%)
 Instrument # D -  2 Errors ( 33%) - C( 0%) - W( 100%) - N( 0%)
B Isn't working
C Ther is noise on line !
D Ther is noise on line !

Statistics (response times in ms from the end of the request):
Addr  Req  Good  NoAns  Wrong#  NoCR  NotDet  UnkFmt  Good%  1st min  1st mean  1st p95  1st max  Last min  Last mean  Last p95  Last max  Last good  Judgement
A       1     1      0       0     0       0       0  100.0      6.0       6.0      6.0      6.0      10.2       10.2      10.2      10.2   08:00:00  healthy
B       2     0      2       0     0       0       0    0.0        -         -        -        -         -          -         -         -          -  silent
C       2     0      0       0     2       0       0    0.0        -         -        -        -         -          -         -         -          -  garbled
D       2     0      0       2     0       0       0    0.0        -         -        -        -         -          -         -         -          -  garbled
Line: 7 exchanges, 4.32 exchanges/s, 14.3 % good, longest run of failures 6; driver errors: not reported by this port
)");
    EXPECT_EQ(rig.err.str(), "");
}

TEST(ReportGolden, ATestRunAsJson) {
    golden::CliRig rig;
    ScriptedBus bus{rig.line, FourControllers()};
    EXPECT_EQ(rig.Command({"test", "--baud", "9600", "--addresses", "A,B,C,D", "--sweeps", "1",
                           "--retry", "1", "--json"}),
              kLineFailures);
    EXPECT_EQ(rig.out.str(),
              "{\n"
              "    \"analysis\": {\n"
              "        \"controllers\": [\n"
              "            {\n"
              "                \"address\": \"B\",\n"
              "                \"errors\": 2,\n"
              "                \"noAnswer\": 2,\n"
              "                \"noCr\": 0,\n"
              "                \"verdict\": \"Isn't working\",\n"
              "                \"wrongCount\": 0\n"
              "            },\n"
              "            {\n"
              "                \"address\": \"C\",\n"
              "                \"errors\": 2,\n"
              "                \"noAnswer\": 0,\n"
              "                \"noCr\": 2,\n"
              "                \"verdict\": \"Ther is noise on line !\",\n"
              "                \"wrongCount\": 0\n"
              "            },\n"
              "            {\n"
              "                \"address\": \"D\",\n"
              "                \"errors\": 2,\n"
              "                \"noAnswer\": 0,\n"
              "                \"noCr\": 0,\n"
              "                \"verdict\": \"Ther is noise on line !\",\n"
              "                \"wrongCount\": 2\n"
              "            }\n"
              "        ],\n"
              "        \"records\": 6,\n"
              "        \"report\": [\n"
              "            \" The total numbers of Errors is:   6\",\n"
              "            \" Instrument # B -  2 Errors ( 33%) - C( 0%) - W( 0%) - N( 100%)\",\n"
              "            \" Instrument # C -  2 Errors ( 33%) - C( 100%) - W( 0%) - N( 0%)\",\n"
              "            \" Instrument # D -  2 Errors ( 33%) - C( 0%) - W( 100%) - N( 0%)\",\n"
              "            \"B Isn't working\",\n"
              "            \"C Ther is noise on line !\",\n"
              "            \"D Ther is noise on line !\"\n"
              "        ],\n"
              "        \"skipped\": 0\n"
              "    },\n"
              "    \"command\": \"test\",\n"
              "    \"controllers\": [\n"
              "        {\n"
              "            \"address\": \"A\",\n"
              "            \"good\": 1,\n"
              "            \"judgement\": \"healthy\",\n"
              "            \"lastGood\": \"2026-12-09T08:00:00+01:00\",\n"
              "            \"noAnswer\": 0,\n"
              "            \"noCr\": 0,\n"
              "            \"notDetected\": 0,\n"
              "            \"reason\": \"The only exchange was good.\",\n"
              "            \"requests\": 1,\n"
              "            \"responseToFirstMs\": {\n"
              "                \"max\": 6,\n"
              "                \"mean\": 6,\n"
              "                \"min\": 6,\n"
              "                \"p95\": 6\n"
              "            },\n"
              "            \"responseToLastMs\": {\n"
              "                \"max\": 10.2,\n"
              "                \"mean\": 10.2,\n"
              "                \"min\": 10.2,\n"
              "                \"p95\": 10.2\n"
              "            },\n"
              "            \"successRate\": 100,\n"
              "            \"unknownFormat\": 0,\n"
              "            \"wrongCount\": 0\n"
              "        },\n"
              "        {\n"
              "            \"address\": \"B\",\n"
              "            \"good\": 0,\n"
              "            \"judgement\": \"silent\",\n"
              "            \"lastGood\": null,\n"
              "            \"noAnswer\": 2,\n"
              "            \"noCr\": 0,\n"
              "            \"notDetected\": 0,\n"
              "            \"reason\": \"No answer to any of 2 requests.\",\n"
              "            \"requests\": 2,\n"
              "            \"responseToFirstMs\": null,\n"
              "            \"responseToLastMs\": null,\n"
              "            \"successRate\": 0,\n"
              "            \"unknownFormat\": 0,\n"
              "            \"wrongCount\": 0\n"
              "        },\n"
              "        {\n"
              "            \"address\": \"C\",\n"
              "            \"good\": 0,\n"
              "            \"judgement\": \"garbled\",\n"
              "            \"lastGood\": null,\n"
              "            \"noAnswer\": 0,\n"
              "            \"noCr\": 2,\n"
              "            \"notDetected\": 0,\n"
              "            \"reason\": \"2 of 2 exchanges brought an answer with the wrong number "
              "of characters or no carriage return: the sign of noise on the line.\",\n"
              "            \"requests\": 2,\n"
              "            \"responseToFirstMs\": null,\n"
              "            \"responseToLastMs\": null,\n"
              "            \"successRate\": 0,\n"
              "            \"unknownFormat\": 0,\n"
              "            \"wrongCount\": 0\n"
              "        },\n"
              "        {\n"
              "            \"address\": \"D\",\n"
              "            \"good\": 0,\n"
              "            \"judgement\": \"garbled\",\n"
              "            \"lastGood\": null,\n"
              "            \"noAnswer\": 0,\n"
              "            \"noCr\": 0,\n"
              "            \"notDetected\": 0,\n"
              "            \"reason\": \"2 of 2 exchanges brought an answer with the wrong number "
              "of characters or no carriage return: the sign of noise on the line.\",\n"
              "            \"requests\": 2,\n"
              "            \"responseToFirstMs\": null,\n"
              "            \"responseToLastMs\": null,\n"
              "            \"successRate\": 0,\n"
              "            \"unknownFormat\": 0,\n"
              "            \"wrongCount\": 2\n"
              "        }\n"
              "    ],\n"
              "    \"dropped\": 0,\n"
              "    \"ended\": \"2026-12-09T08:00:02+01:00\",\n"
              "    \"errorLimit\": false,\n"
              "    \"errors\": 6,\n"
              "    \"line\": {\n"
              "        \"driverErrors\": null,\n"
              "        \"exchanges\": 7,\n"
              "        \"exchangesPerSecond\": 4.32,\n"
              "        \"good\": 1,\n"
              "        \"longestFailureRun\": 6,\n"
              "        \"successRate\": 14.3\n"
              "    },\n"
              "    \"lineFailure\": null,\n"
              "    \"port\": {\n"
              "        \"device\": \"/dev/ttyS9\",\n"
              "        \"entry\": \"COM1\"\n"
              "    },\n"
              "    \"program\": {\n"
              "        \"name\": \"line-tarvel-cli\",\n"
              "        \"version\": \"3.beta\"\n"
              "    },\n"
              "    \"records\": [\n"
              "        {\n"
              "            \"dateTime\": \"2026-12-09T08:00:00+01:00\",\n"
              "            \"text\": \"B  08:00:00  No answer !   0\"\n"
              "        },\n"
              "        {\n"
              "            \"dateTime\": \"2026-12-09T08:00:00+01:00\",\n"
              "            \"text\": \"B  08:00:00  No answer !   1\"\n"
              "        },\n"
              "        {\n"
              "            \"dateTime\": \"2026-12-09T08:00:01+01:00\",\n"
              "            \"text\": \"C  08:00:01  CR not received !   0\"\n"
              "        },\n"
              "        {\n"
              "            \"dateTime\": \"2026-12-09T08:00:01+01:00\",\n"
              "            \"text\": \"C  08:00:01  CR not received !   1\"\n"
              "        },\n"
              "        {\n"
              "            \"dateTime\": \"2026-12-09T08:00:01+01:00\",\n"
              "            \"text\": \"D  08:00:01  Wrong # of characters !   0\"\n"
              "        },\n"
              "        {\n"
              "            \"dateTime\": \"2026-12-09T08:00:01+01:00\",\n"
              "            \"text\": \"D  08:00:01  Wrong # of characters !   1\"\n"
              "        }\n"
              "    ],\n"
              "    \"seconds\": 1.8,\n"
              "    \"settings\": {\n"
              "        \"baud\": 9600,\n"
              "        \"dataBits\": 8,\n"
              "        \"parity\": \"none\",\n"
              "        \"retry\": 1,\n"
              "        \"stopBits\": 1\n"
              "    },\n"
              "    \"started\": \"2026-12-09T08:00:00+01:00\",\n"
              "    \"stoppedBy\": \"the sweeps asked for\",\n"
              "    \"sweeps\": 1\n"
              "}\n");
    EXPECT_EQ(rig.err.str(), "");
}

// The Modbus run of the pinned files, as JSON: the protocol's own counts for each controller.
TEST(ReportGolden, AModbusTestRunAsJson) {
    golden::CliRig rig;
    BusPeer bus{rig.line, golden::ModbusGoldenBus()};
    std::vector<std::string> run = golden::ModbusGoldenRun();
    run.push_back("--json");
    EXPECT_EQ(rig.Command(run), kLineFailures);
    EXPECT_EQ(
        rig.out.str(),
        "{\n"
        "    \"analysis\": {\n"
        "        \"controllers\": [\n"
        "        ],\n"
        "        \"records\": 0,\n"
        "        \"report\": [\n"
        "        ],\n"
        "        \"skipped\": 4\n"
        "    },\n"
        "    \"command\": \"test\",\n"
        "    \"controllers\": [\n"
        "        {\n"
        "            \"address\": 1,\n"
        "            \"badCrc\": 0,\n"
        "            \"cut\": 0,\n"
        "            \"exceptionCodes\": {\n"
        "            },\n"
        "            \"exceptions\": 0,\n"
        "            \"good\": 1,\n"
        "            \"judgement\": \"healthy\",\n"
        "            \"lastGood\": \"2026-12-09T08:00:00+01:00\",\n"
        "            \"noAnswer\": 0,\n"
        "            \"reason\": \"The only exchange was good.\",\n"
        "            \"requests\": 1,\n"
        "            \"responseToFirstMs\": {\n"
        "                \"max\": 6.1,\n"
        "                \"mean\": 6.1,\n"
        "                \"min\": 6.1,\n"
        "                \"p95\": 6.1\n"
        "            },\n"
        "            \"responseToLastMs\": {\n"
        "                \"max\": 13,\n"
        "                \"mean\": 13,\n"
        "                \"min\": 13,\n"
        "                \"p95\": 13\n"
        "            },\n"
        "            \"successRate\": 100,\n"
        "            \"wrongLength\": 0,\n"
        "            \"wrongSource\": 0\n"
        "        },\n"
        "        {\n"
        "            \"address\": 2,\n"
        "            \"badCrc\": 0,\n"
        "            \"cut\": 0,\n"
        "            \"exceptionCodes\": {\n"
        "                \"2\": 1\n"
        "            },\n"
        "            \"exceptions\": 1,\n"
        "            \"good\": 1,\n"
        "            \"judgement\": \"healthy\",\n"
        "            \"lastGood\": \"2026-12-09T08:00:00+01:00\",\n"
        "            \"noAnswer\": 0,\n"
        "            \"reason\": \"The only exchange was good.\",\n"
        "            \"requests\": 1,\n"
        "            \"responseToFirstMs\": {\n"
        "                \"max\": 6.1,\n"
        "                \"mean\": 6.1,\n"
        "                \"min\": 6.1,\n"
        "                \"p95\": 6.1\n"
        "            },\n"
        "            \"responseToLastMs\": {\n"
        "                \"max\": 10.7,\n"
        "                \"mean\": 10.7,\n"
        "                \"min\": 10.7,\n"
        "                \"p95\": 10.7\n"
        "            },\n"
        "            \"successRate\": 100,\n"
        "            \"wrongLength\": 0,\n"
        "            \"wrongSource\": 0\n"
        "        },\n"
        "        {\n"
        "            \"address\": 3,\n"
        "            \"badCrc\": 2,\n"
        "            \"cut\": 0,\n"
        "            \"exceptionCodes\": {\n"
        "            },\n"
        "            \"exceptions\": 0,\n"
        "            \"good\": 0,\n"
        "            \"judgement\": \"garbled\",\n"
        "            \"lastGood\": null,\n"
        "            \"noAnswer\": 0,\n"
        "            \"reason\": \"2 of 2 exchanges brought an answer with a CRC error, of the "
        "wrong length, cut short or from another address: the sign of noise on the line.\",\n"
        "            \"requests\": 2,\n"
        "            \"responseToFirstMs\": null,\n"
        "            \"responseToLastMs\": null,\n"
        "            \"successRate\": 0,\n"
        "            \"wrongLength\": 0,\n"
        "            \"wrongSource\": 0\n"
        "        },\n"
        "        {\n"
        "            \"address\": 4,\n"
        "            \"badCrc\": 0,\n"
        "            \"cut\": 0,\n"
        "            \"exceptionCodes\": {\n"
        "            },\n"
        "            \"exceptions\": 0,\n"
        "            \"good\": 0,\n"
        "            \"judgement\": \"silent\",\n"
        "            \"lastGood\": null,\n"
        "            \"noAnswer\": 2,\n"
        "            \"reason\": \"No answer to any of 2 requests.\",\n"
        "            \"requests\": 2,\n"
        "            \"responseToFirstMs\": null,\n"
        "            \"responseToLastMs\": null,\n"
        "            \"successRate\": 0,\n"
        "            \"wrongLength\": 0,\n"
        "            \"wrongSource\": 0\n"
        "        }\n"
        "    ],\n"
        "    \"dropped\": 0,\n"
        "    \"ended\": \"2026-12-09T08:00:01+01:00\",\n"
        "    \"errorLimit\": false,\n"
        "    \"errors\": 4,\n"
        "    \"line\": {\n"
        "        \"driverErrors\": null,\n"
        "        \"exchanges\": 6,\n"
        "        \"exchangesPerSecond\": 5.07,\n"
        "        \"good\": 2,\n"
        "        \"longestFailureRun\": 4,\n"
        "        \"successRate\": 33.3\n"
        "    },\n"
        "    \"lineFailure\": null,\n"
        "    \"port\": {\n"
        "        \"device\": \"/dev/ttyS9\",\n"
        "        \"entry\": \"COM1\"\n"
        "    },\n"
        "    \"program\": {\n"
        "        \"name\": \"line-tarvel-cli\",\n"
        "        \"version\": \"3.beta\"\n"
        "    },\n"
        "    \"records\": [\n"
        "        {\n"
        "            \"dateTime\": \"2026-12-09T08:00:00+01:00\",\n"
        "            \"text\": \"3  08:00:00  CRC error !   0\"\n"
        "        },\n"
        "        {\n"
        "            \"dateTime\": \"2026-12-09T08:00:00+01:00\",\n"
        "            \"text\": \"3  08:00:00  CRC error !   1\"\n"
        "        },\n"
        "        {\n"
        "            \"dateTime\": \"2026-12-09T08:00:00+01:00\",\n"
        "            \"text\": \"4  08:00:00  No answer !   0\"\n"
        "        },\n"
        "        {\n"
        "            \"dateTime\": \"2026-12-09T08:00:01+01:00\",\n"
        "            \"text\": \"4  08:00:01  No answer !   1\"\n"
        "        }\n"
        "    ],\n"
        "    \"seconds\": 1.2,\n"
        "    \"settings\": {\n"
        "        \"baud\": 9600,\n"
        "        \"dataBits\": 8,\n"
        "        \"parity\": \"even\",\n"
        "        \"retry\": 1,\n"
        "        \"stopBits\": 1\n"
        "    },\n"
        "    \"started\": \"2026-12-09T08:00:00+01:00\",\n"
        "    \"stoppedBy\": \"the sweeps asked for\",\n"
        "    \"sweeps\": 1\n"
        "}\n");
    EXPECT_EQ(rig.err.str(), "");
}

// Another master on the line: a read of each of A to D, a write to A, a second read of A. The
// program listens and sends nothing.
struct ListenGolden : ::testing::Test, golden::CliRig {
    // `bytes` sent back to back from `start` (milliseconds from the start of the clock).
    void At(int start, std::string bytes) {
        const Instant when{std::chrono::milliseconds(start)};
        time.CallAt(when, [this, when, bytes] { line.DeliverFrom(when, bytes); });
    }
    ListenGolden() {
        At(100, "A?X  \r");
        At(111, "A215\r");
        At(300, "B?X  \r");
        At(600, "C?X  \r");
        At(611, "C215\n");
        At(800, "D?X  \r");
        At(816, "D2150\r");
        At(1000, "A!SP \r");
        At(1056, "A0123\r");
        At(1070, "AACK\r");
        At(1300, "A?X  \r");
        At(1320, "A216\r");
    }
};

TEST_F(ListenGolden, TheJsonReportAndTheCsvFiles) {
    EXPECT_EQ(Command({"listen", "--baud", "9600", "--duration", "2s", "--json", "--traffic",
                       File("traffic.csv"), "--stats", File("stats.csv")}),
              kLineFailures);
    EXPECT_TRUE(line.Transmitted().empty());
    EXPECT_EQ(out.str(), R"({
    "answerWindowMs": 200,
    "command": "listen",
    "controllers": [
        {
            "address": "A",
            "good": 3,
            "judgement": "healthy",
            "lastGood": "2026-12-09T08:00:01+01:00",
            "noAnswer": 0,
            "noCr": 0,
            "notDetected": 0,
            "pollCycle": {
                "longestMs": 956,
                "meanMs": 600
            },
            "reason": "All 3 exchanges were good.",
            "requests": 3,
            "responseToFirstMs": {
                "max": 14.8,
                "mean": 9.8,
                "min": 5.8,
                "p95": 14.8
            },
            "responseToLastMs": {
                "max": 19,
                "mean": 14,
                "min": 10,
                "p95": 19
            },
            "successRate": 100,
            "unknownFormat": 0,
            "wrongCount": 0
        },
        {
            "address": "B",
            "good": 0,
            "judgement": "silent",
            "lastGood": null,
            "noAnswer": 1,
            "noCr": 0,
            "notDetected": 0,
            "pollCycle": {
                "longestMs": null,
                "meanMs": null
            },
            "reason": "No answer to its only request.",
            "requests": 1,
            "responseToFirstMs": null,
            "responseToLastMs": null,
            "successRate": 0,
            "unknownFormat": 0,
            "wrongCount": 0
        },
        {
            "address": "C",
            "good": 0,
            "judgement": "garbled",
            "lastGood": null,
            "noAnswer": 0,
            "noCr": 1,
            "notDetected": 0,
            "pollCycle": {
                "longestMs": null,
                "meanMs": null
            },
            "reason": "1 of 1 exchange brought an answer with the wrong number of characters or no carriage return: the sign of noise on the line.",
            "requests": 1,
            "responseToFirstMs": null,
            "responseToLastMs": null,
            "successRate": 0,
            "unknownFormat": 0,
            "wrongCount": 0
        },
        {
            "address": "D",
            "good": 0,
            "judgement": "garbled",
            "lastGood": null,
            "noAnswer": 0,
            "noCr": 0,
            "notDetected": 0,
            "pollCycle": {
                "longestMs": null,
                "meanMs": null
            },
            "reason": "1 of 1 exchange brought an answer with the wrong number of characters or no carriage return: the sign of noise on the line.",
            "requests": 1,
            "responseToFirstMs": null,
            "responseToLastMs": null,
            "successRate": 0,
            "unknownFormat": 0,
            "wrongCount": 1
        }
    ],
    "dropped": 0,
    "ended": "2026-12-09T08:00:02+01:00",
    "heard": {
        "busyPercent": 3.5,
        "frames": 11,
        "framesPerSecond": 5.5,
        "noiseBytes": 0,
        "requests": 6
    },
    "line": {
        "driverErrors": null,
        "exchanges": 6,
        "exchangesPerSecond": 4.53,
        "good": 3,
        "longestFailureRun": 3,
        "successRate": 50
    },
    "lineFailure": null,
    "port": {
        "device": "/dev/ttyS9",
        "entry": "COM1"
    },
    "program": {
        "name": "line-tarvel-cli",
        "version": "3.beta"
    },
    "seconds": 2,
    "settings": {
        "baud": 9600,
        "dataBits": 8,
        "parity": "none",
        "retry": 0,
        "stopBits": 1
    },
    "started": "2026-12-09T08:00:00+01:00",
    "stoppedBy": "the time asked for",
    "warning": null
}
)");
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(
        Read("traffic.csv"),
        golden::Crlf(
            R"(exchange,ms from run start,time of day,direction,address,characters,hex,text,verdict,date-time,port,settings,exchange of
1,100.0,08:00:00,request,A,6,41 3F 58 20 20 0D,A?X  <CR>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
1,112.0,08:00:00,answer,A,5,41 32 31 35 0D,A215<CR>,good,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
2,300.0,08:00:00,request,B,6,42 3F 58 20 20 0D,B?X  <CR>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
2,506.2,08:00:00,answer,B,0,,,No answer !,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
3,600.0,08:00:00,request,C,6,43 3F 58 20 20 0D,C?X  <CR>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
3,612.0,08:00:00,answer,C,5,43 32 31 35 0A,C215<LF>,CR not received !,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
4,800.0,08:00:00,request,D,6,44 3F 58 20 20 0D,D?X  <CR>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
4,817.0,08:00:00,answer,D,6,44 32 31 35 30 0D,D2150<CR>,Wrong # of characters !,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
5,1049.8,08:00:01,request,A,12,41 21 53 50 20 0D 41 30 31 32 33 0D,A!SP <CR>A0123<CR>,,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
5,1071.0,08:00:01,answer,A,5,41 41 43 4B 0D,AACK<CR>,good,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
6,1300.0,08:00:01,request,A,6,41 3F 58 20 20 0D,A?X  <CR>,,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
6,1321.0,08:00:01,answer,A,5,41 32 31 36 0D,A216<CR>,good,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
)"));
    EXPECT_EQ(
        Read("stats.csv"),
        golden::Crlf(
            R"(Address,Requests,Good,No answer,Wrong # of characters,CR not received,Not detected,Unknow format,Success %,First min ms,First mean ms,First p95 ms,First max ms,Last min ms,Last mean ms,Last p95 ms,Last max ms,Last good answer,Judgement,Why,date-time,port,settings,statistics of
A,3,3,0,0,0,0,0,100.0,5.8,9.8,14.8,14.8,10.0,14.0,19.0,19.0,08:00:01,healthy,All 3 exchanges were good.,2026-12-09T08:00:02+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
B,1,0,1,0,0,0,0,0.0,,,,,,,,,,silent,No answer to its only request.,2026-12-09T08:00:02+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
C,1,0,0,0,1,0,0,0.0,,,,,,,,,,garbled,1 of 1 exchange brought an answer with the wrong number of characters or no carriage return: the sign of noise on the line.,2026-12-09T08:00:02+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
D,1,0,0,1,0,0,0,0.0,,,,,,,,,,garbled,1 of 1 exchange brought an answer with the wrong number of characters or no carriage return: the sign of noise on the line.,2026-12-09T08:00:02+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",listen
)"));
}

TEST_F(ListenGolden, TheTextReport) {
    EXPECT_EQ(Command({"listen", "--baud", "9600", "--duration", "2s"}), kLineFailures);
    EXPECT_EQ(
        out.str(),
        R"(line-tarvel-cli 3.beta, listen on /dev/ttyS9 (COM1) at 9600 8N1, retry 0, from 2026-12-09T08:00:00+01:00 to 2026-12-09T08:00:02+01:00
Listened for 2 s: 6 requests heard, 6 exchanges judged; ended by the time asked for

Statistics (response times in ms from the end of the request):
Addr  Req  Good  NoAns  Wrong#  NoCR  NotDet  UnkFmt  Good%  1st min  1st mean  1st p95  1st max  Last min  Last mean  Last p95  Last max  Last good  Judgement
A       3     3      0       0     0       0       0  100.0      5.8       9.8     14.8     14.8      10.0       14.0      19.0      19.0   08:00:01  healthy
B       1     0      1       0     0       0       0    0.0        -         -        -        -         -          -         -         -          -  silent
C       1     0      0       0     1       0       0    0.0        -         -        -        -         -          -         -         -          -  garbled
D       1     0      0       1     0       0       0    0.0        -         -        -        -         -          -         -         -          -  garbled
Line: 6 exchanges, 4.53 exchanges/s, 50.0 % good, longest run of failures 3; driver errors: not reported by this port
Heard: 11 frames, 5.50 frames/s, line busy 3.5 %, 0 bytes of noise
Poll cycle (ms between two requests to the same address): A mean 600.0, longest 956.0
)");
    EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace tarvel
