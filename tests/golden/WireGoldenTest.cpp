// SPDX-License-Identifier: GPL-3.0-or-later
// Golden pins of what goes on the wire and when: a test run, a scan, the terminal's frames and
// the search across settings, each on virtual time at 9600 8N1 (one character: 1041.666 us)
// against controllers that always answer the same way. Each line of a transcript is a frame:
// the start of its first character and the end of its last, in microseconds from the start of
// the clock, then its bytes. The literals are the contract: a change to any of them is a change
// of behaviour and needs a reason.

#include <gtest/gtest.h>

#include "golden/GoldenLine.h"
#include "support/ScanRig.h"

namespace tarvel {
namespace {

using golden::Joined;
using golden::ScriptedBus;

// A answers well, B never, C without its carriage return, D with a character too many.
std::map<std::string, golden::Answer> FourControllers() {
    return {{"A", {"A215\r"}}, {"C", {"C215\n"}}, {"D", {"D2150\r", 10ms, true}}};
}

struct TestRunGolden : ::testing::Test, testing::EngineRig {
    ScriptedBus bus{line, FourControllers()};
};

TEST_F(TestRunGolden, OneSweepOverEveryVerdictWithOneRetry) {
    Configure(4, 1);
    run.StartBtn_Click();
    ASSERT_TRUE(RunUntil([&] { return clipboard.Count() == 6; }));
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());

    EXPECT_EQ(Joined(bus.Wire()), R"(0.000 1041.666 <CR>
220000.000 226249.996 A?X  <CR>
256458.326 262708.322 B?X  <CR>
456458.327 457499.993 <CR>
676458.327 682708.323 B?X  <CR>
876458.328 877499.994 <CR>
1096458.328 1102708.324 C?X  <CR>
1112916.654 1113958.320 <CR>
1332916.654 1339166.650 C?X  <CR>
1349374.980 1350416.646 <CR>
1569374.980 1575624.976 D?X  <CR>
1585624.976 1586666.642 <CR>
1805624.976 1811874.972 D?X  <CR>
1821874.972 1822916.638 <CR>
)");
    EXPECT_EQ(Joined(clipboard.items), R"(B  08:00:00  No answer !   0
B  08:00:00  No answer !   1
C  08:00:01  CR not received !   0
C  08:00:01  CR not received !   1
D  08:00:01  Wrong # of characters !   0
D  08:00:01  Wrong # of characters !   1
)");
    EXPECT_EQ(Joined(RxLbl.history), R"(A215
No answer !
No answer !
CR not received !
CR not received !
Wrong # of characters !
Wrong # of characters !
)");
    EXPECT_EQ(Joined(ErrorLbl.history), R"(1
2
3
4
5
6
)");
    EXPECT_EQ(golden::Micros(Elapsed()), "2021874.972");
}

// The line detector as line-tarvel-cli runs it: every address from "A" to "@" once.
TEST(ScanGolden, EveryAddressOnceWhatEachAnsweredAndTheTableFound) {
    golden::CliRig rig;
    ScriptedBus bus{rig.line, FourControllers()};
    EXPECT_EQ(rig.Command({"scan", "--baud", "9600", "--retry", "0", "--cfg", rig.File("found.cfg"),
                           "--traffic", rig.File("traffic.csv")}),
              kAllWell);
    const std::vector<std::string> wire = bus.Wire();
    EXPECT_EQ(wire.size(), 128u);
    EXPECT_EQ(Joined(wire, 0, 12), R"(0.000 1041.666 <CR>
300000.000 306249.996 A?X  <CR>
416458.326 422708.322 B?X  <CR>
716458.327 717499.993 <CR>
1016458.327 1022708.323 C?X  <CR>
1032916.653 1033958.319 <CR>
1332916.653 1339166.649 D?X  <CR>
1349166.649 1350208.315 <CR>
1649166.649 1655416.645 E?X  <CR>
1949166.650 1950208.316 <CR>
2249166.650 2255416.646 F?X  <CR>
2549166.651 2550208.317 <CR>
)");
    EXPECT_EQ(Joined(wire, wire.size() - 3), R"(36749166.708 36750208.374 <CR>
37049166.708 37055416.704 @?X  <CR>
37349166.709 37350208.375 <CR>
)");
    EXPECT_EQ(
        rig.out.str(),
        R"(line-tarvel-cli 3.beta, scan on /dev/ttyS9 (COM1) at 9600 8N1, retry 0, from 2026-12-09T08:00:00+01:00
Controller A found (address 0)
Scan finished: 1 controller found: A (37 s, ended 2026-12-09T08:00:37+01:00)
)");
    EXPECT_EQ(rig.err.str(), "");
    EXPECT_EQ(rig.Read("found.cfg"), " 1 \r\n"
                                     " 0 \r\n");
    // The header and the first five exchanges.
    EXPECT_EQ(
        golden::FirstLines(rig.Read("traffic.csv"), 11),
        golden::Crlf(
            R"(exchange,ms from run start,time of day,direction,address,characters,hex,text,verdict,date-time,port,settings,exchange of
1,100.0,08:00:00,request,A,6,41 3F 58 20 20 0D,A?X  <CR>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
1,112.3,08:00:00,answer,A,5,41 32 31 35 0D,A215<CR>,good,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
2,216.5,08:00:00,request,B,6,42 3F 58 20 20 0D,B?X  <CR>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
2,516.5,08:00:00,answer,B,0,,,Not detected !,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
3,816.5,08:00:01,request,C,6,43 3F 58 20 20 0D,C?X  <CR>,,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
3,828.7,08:00:01,answer,C,5,43 32 31 35 0A,C215<LF>,Unknow format !,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
4,1132.9,08:00:01,request,D,6,44 3F 58 20 20 0D,D?X  <CR>,,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
4,1149.2,08:00:01,answer,D,6,44 32 31 35 30 0D,D2150<CR>,Wrong # of characters !,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
5,1449.2,08:00:01,request,E,6,45 3F 58 20 20 0D,E?X  <CR>,,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
5,1749.2,08:00:01,answer,E,0,,,Not detected !,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 0",scan
)"));
}

// The same scan as the main window's "&Search!" runs it: what the window shows of it.
struct ScanWindowGolden : ::testing::Test, testing::ScanRig {
    ScriptedBus bus{line, FourControllers()};

    ScanWindowGolden() {
        detector.AddSink(scanDisplay);
        editor.LoadStartupTable();
        primo.RetryCount = 0;
    }
};

TEST_F(ScanWindowGolden, WhatTheWindowShows) {
    scan.SearchMenu_Click();
    ASSERT_TRUE(time.RunUntil([this] { return !scan.Active(); }, 1h));
    EXPECT_EQ(bus.Wire().size(), 128u);
    EXPECT_EQ(Joined(RxLbl.history, 0, 8), R"(

1 Device Found !
Not detected !
Unknow format !
Wrong # of characters !
Not detected !
Not detected !
)");
    EXPECT_EQ(Joined(RxLbl.history, RxLbl.history.size() - 3), R"(Not detected !
Not detected !
Devices Found:  1
)");
    EXPECT_EQ(Joined(controllerList.items), R"(Controller  1  Address: A
)");
    EXPECT_EQ(Joined(StatusPanel1.history), R"(Line Detector is working !
End Line Detector work !
)");
    EXPECT_EQ(primo.DeviceCount, 1);
    EXPECT_EQ(golden::Micros(Elapsed()), "37549166.709");
}

// The terminal's exchange as line-tarvel-cli's "send" makes it: a read, a write of two frames,
// and an answer of the wrong form.
TEST(TerminalGolden, FramesAsTypedTheValueAfterItsPauseAndWhatIsShown) {
    golden::CliRig rig;
    ScriptedBus bus{rig.line, FourControllers()};
    bus.answers["A!SP "] = {""};
    bus.answers["A0123"] = {"AACK\r", 7ms};
    EXPECT_EQ(rig.Command({"send", "--baud", "9600", "A?X  "}), kAllWell);
    EXPECT_EQ(rig.Command({"send", "--baud", "9600", "A!SP ", "--value", "A0123"}), kAllWell);
    EXPECT_EQ(rig.Command({"send", "--baud", "9600", "C?X  "}), kLineFailures);
    EXPECT_EQ(rig.Command({"send", "--baud", "9600", "D?X  "}), kLineFailures);
    EXPECT_EQ(Joined(bus.Wire()), R"(0.000 6249.996 A?X  <CR>
16458.326 22708.322 A!SP <CR>
66458.326 72708.322 A0123<CR>
84916.652 91166.648 C?X  <CR>
101374.978 102416.644 <CR>
301374.978 307624.974 D?X  <CR>
317624.974 318666.640 <CR>
)");
    EXPECT_EQ(rig.out.str(), R"(A215
AACK
Unknow format !
Wrong # of characters !
)");
    EXPECT_EQ(rig.err.str(), "");
}

// The search across settings: controller B answers at 9600 7E1 only, and is found there and
// confirmed; the command line's own 4800 8N1 is back afterwards.
TEST(SettingsSearchGolden, TheOrderOfSettingsAFindItsConfirmationAndTheResult) {
    golden::CliRig rig;
    ScriptedBus bus{rig.line, {{"B", {"B215\r", 5ms, false, 9600, 'E'}}}};
    EXPECT_EQ(rig.Command({"scan", "--all-settings", "--json"}), kAllWell);
    const std::vector<std::string> wire = bus.Wire(true);
    EXPECT_EQ(wire.size(), 1367u);
    // The settings in the order they were applied, each with its first frame.
    std::vector<std::string> applied;
    for (const std::string& frame : wire) {
        if (applied.empty() || applied.back().substr(0, 12) != frame.substr(0, 12)) {
            applied.push_back(frame);
        }
    }
    EXPECT_EQ(Joined(applied), R"( 4800,N,8, 1 0.000 2083.333 <CR>
 9600,N,8, 1 200000.000 201041.666 <CR>
 9600,E,7, 1 5613332.928 5614374.594 <CR>
 9600,O,7, 1 11018124.181 11019165.847 <CR>
 4800,N,8, 1 16431457.109 16433540.442 <CR>
 4800,E,7, 1 22578123.605 22580206.938 <CR>
 4800,O,7, 1 28724790.101 28726873.434 <CR>
 2400,N,8, 1 34871456.597 34875623.263 <CR>
 2400,E,7, 1 42484789.525 42488956.191 <CR>
 2400,O,7, 1 50098122.453 50102289.119 <CR>
 1200,N,8, 1 57711455.381 57719788.714 <CR>
 1200,E,7, 1 68258121.877 68266455.210 <CR>
 1200,O,7, 1 78804788.373 78813121.706 <CR>
 600,N,8, 1 89351454.869 89368121.535 <CR>
 600,E,7, 1 105764787.797 105781454.463 <CR>
 600,O,7, 1 122178120.725 122194787.391 <CR>
 300,N,8, 1 138591453.653 138624786.986 <CR>
 300,E,7, 1 166738120.149 166771453.482 <CR>
 300,O,7, 1 194884786.645 194918119.978 <CR>
 150,N,8, 1 223031453.141 223098119.807 <CR>
 150,E,7, 1 274644786.069 274711452.735 <CR>
 150,O,7, 1 326258118.997 326324785.663 <CR>
)");
    EXPECT_EQ(Joined(wire, 60, 12), " 9600,N,8, 1 5144582.966 5150832.962 {?X  <CR>\n"
                                    " 9600,N,8, 1 5226041.293 5232291.289 |?X  <CR>\n"
                                    " 9600,N,8, 1 5307499.620 5313749.616 }?X  <CR>\n"
                                    " 9600,N,8, 1 5388957.947 5395207.943 ~?X  <CR>\n"
                                    " 9600,N,8, 1 5470416.274 5476666.270 \x7F?X  <CR>\n"
                                    " 9600,N,8, 1 5551874.601 5558124.597 @?X  <CR>\n"
                                    " 9600,E,7, 1 5613332.928 5614374.594 <CR>\n"
                                    " 9600,E,7, 1 5833332.928 5839582.924 A?X  <CR>\n"
                                    " 9600,E,7, 1 5914791.255 5921041.251 B?X  <CR>\n"
                                    " 9600,E,7, 1 5951249.581 5957499.577 B?X  <CR>\n"
                                    " 9600,E,7, 1 5987707.907 5993957.903 C?X  <CR>\n"
                                    " 9600,E,7, 1 6069166.234 6075416.230 D?X  <CR>\n");
    EXPECT_EQ(rig.out.str(), R"({
    "allSettings": true,
    "cfgSetting": "9600 7E1",
    "command": "scan",
    "dropped": 0,
    "ended": "2026-12-09T08:06:17+01:00",
    "finds": [
        {
            "address": "B",
            "baud": 9600,
            "confirmed": true,
            "dataBits": 7,
            "parity": "even",
            "stopBits": 1
        }
    ],
    "lineFailure": null,
    "port": {
        "device": "/dev/ttyS9",
        "entry": "COM1"
    },
    "program": {
        "name": "line-tarvel-cli",
        "version": "3.beta"
    },
    "seconds": 377.7,
    "settingsRefused": [
    ],
    "settingsTried": 21,
    "started": "2026-12-09T08:00:00+01:00",
    "stopped": false,
    "warning": null
}
)");
    EXPECT_EQ(rig.err.str(), "");
    EXPECT_EQ(rig.line.SettingsText(), " 4800,N,8, 1");
}

}  // namespace
}  // namespace tarvel
