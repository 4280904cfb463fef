// SPDX-License-Identifier: GPL-3.0-or-later
// Golden pins of the bytes of every file the program writes: the line configuration (.cfg),
// the error list (.lst), the analysis report (.dat), and the traffic and statistics CSVs, as a
// small test run of line-tarvel-cli on virtual time leaves them, and a Modbus run's CSVs (the wall
// clock reads 08:00:00 on 2026-12-09, UTC+01:00, when the virtual clock starts). The literals are
// the contract: a change to any of them is a change of behaviour and needs a reason.

#include <gtest/gtest.h>

#include "core/Analysis.h"
#include "core/ConfigFile.h"
#include "core/ListFile.h"
#include "golden/GoldenLine.h"

namespace tarvel {
namespace {

using golden::ScriptedBus;

// One sweep over A (good), B (silent), C (no carriage return) and D (a character too many),
// each failure retried once, with every file.
struct TestRunFiles : ::testing::Test, golden::CliRig {
    ScriptedBus bus{line, {{"A", {"A215\r"}}, {"C", {"C215\n"}}, {"D", {"D2150\r", 10ms, true}}}};

    TestRunFiles() {
        EXPECT_EQ(Command({"test", "--baud", "9600", "--addresses", "A,B,C,D", "--sweeps", "1",
                           "--retry", "1", "--lst", File("run.lst"), "--dat", File("run.dat"),
                           "--traffic", File("traffic.csv"), "--stats", File("stats.csv")}),
                  kLineFailures);
    }
};

TEST_F(TestRunFiles, TheErrorList) {
    EXPECT_EQ(Read("run.lst"), " 6 \r\n"
                               "B  08:00:00  No answer !   0\r\n"
                               "B  08:00:00  No answer !   1\r\n"
                               "C  08:00:01  CR not received !   0\r\n"
                               "C  08:00:01  CR not received !   1\r\n"
                               "D  08:00:01  Wrong # of characters !   0\r\n"
                               "D  08:00:01  Wrong # of characters !   1\r\n");
}

TEST_F(TestRunFiles, TheAnalysisReport) {
    EXPECT_EQ(Read("run.dat"), " 7 \r\n"
                               " The total numbers of Errors is:   6\r\n"
                               " Instrument # B -  2 Errors ( 33%) - C( 0%) - W( 0%) - N( 100%)\r\n"
                               " Instrument # C -  2 Errors ( 33%) - C( 100%) - W( 0%) - N( 0%)\r\n"
                               " Instrument # D -  2 Errors ( 33%) - C( 0%) - W( 100%) - N( 0%)\r\n"
                               "B Isn't working\r\n"
                               "C Ther is noise on line !\r\n"
                               "D Ther is noise on line !\r\n");
}

TEST_F(TestRunFiles, TheTrafficCsv) {
    EXPECT_EQ(
        Read("traffic.csv"),
        golden::Crlf(
            R"(exchange,ms from run start,time of day,direction,address,characters,hex,text,verdict,date-time,port,settings,exchange of
1,20.0,08:00:00,request,A,6,41 3F 58 20 20 0D,A?X  <CR>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
1,32.3,08:00:00,answer,A,5,41 32 31 35 0D,A215<CR>,good,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
2,56.5,08:00:00,request,B,6,42 3F 58 20 20 0D,B?X  <CR>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
2,256.5,08:00:00,answer,B,0,,,No answer !,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
3,476.5,08:00:00,request,B,6,42 3F 58 20 20 0D,B?X  <CR>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
3,676.5,08:00:00,answer,B,0,,,No answer !,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
4,896.5,08:00:01,request,C,6,43 3F 58 20 20 0D,C?X  <CR>,,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
4,908.7,08:00:01,answer,C,5,43 32 31 35 0A,C215<LF>,CR not received !,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
5,1132.9,08:00:01,request,C,6,43 3F 58 20 20 0D,C?X  <CR>,,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
5,1145.2,08:00:01,answer,C,5,43 32 31 35 0A,C215<LF>,CR not received !,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
6,1369.4,08:00:01,request,D,6,44 3F 58 20 20 0D,D?X  <CR>,,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
6,1385.6,08:00:01,answer,D,6,44 32 31 35 30 0D,D2150<CR>,Wrong # of characters !,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
7,1605.6,08:00:01,request,D,6,44 3F 58 20 20 0D,D?X  <CR>,,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
7,1621.9,08:00:01,answer,D,6,44 32 31 35 30 0D,D2150<CR>,Wrong # of characters !,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
)"));
}

TEST_F(TestRunFiles, TheStatisticsCsv) {
    EXPECT_EQ(
        Read("stats.csv"),
        golden::Crlf(
            R"(Address,Requests,Good,No answer,Wrong # of characters,CR not received,Not detected,Unknow format,Success %,First min ms,First mean ms,First p95 ms,First max ms,Last min ms,Last mean ms,Last p95 ms,Last max ms,Last good answer,Judgement,Why,date-time,port,settings,statistics of
A,1,1,0,0,0,0,0,100.0,6.0,6.0,6.0,6.0,10.2,10.2,10.2,10.2,08:00:00,healthy,The only exchange was good.,2026-12-09T08:00:02+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
B,2,0,2,0,0,0,0,0.0,,,,,,,,,,silent,No answer to any of 2 requests.,2026-12-09T08:00:02+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
C,2,0,0,0,2,0,0,0.0,,,,,,,,,,garbled,2 of 2 exchanges brought an answer with the wrong number of characters or no carriage return: the sign of noise on the line.,2026-12-09T08:00:02+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
D,2,0,0,2,0,0,0,0.0,,,,,,,,,,garbled,2 of 2 exchanges brought an answer with the wrong number of characters or no carriage return: the sign of noise on the line.,2026-12-09T08:00:02+01:00,/dev/ttyS9 (COM1),"9600 8N1, retry 1",run
)"));
}

// The Modbus run's traffic and statistics: the frames in hexadecimal with their CRCs, and the
// protocol's own verdicts and columns.
struct ModbusRunFiles : ::testing::Test, golden::CliRig {
    BusPeer bus{line, golden::ModbusGoldenBus()};

    ModbusRunFiles() {
        std::vector<std::string> run = golden::ModbusGoldenRun();
        run.insert(run.end(), {"--traffic", File("traffic.csv"), "--stats", File("stats.csv")});
        EXPECT_EQ(Command(run), kLineFailures);
    }
};

TEST_F(ModbusRunFiles, TheTrafficCsv) {
    EXPECT_EQ(
        Read("traffic.csv"),
        golden::Crlf(
            "exchange,ms from run start,time of "
            "day,direction,address,characters,hex,text,verdict,date-time,port,settings,exchange "
            "of\n"
            "1,4.0,08:00:00,request,1,8,01 03 00 00 00 01 84 "
            "0A,<SOH><ETX><NUL><NUL><NUL><SOH><84><LF>,,2026-12-09T08:00:00+01:00,/dev/ttyS9 "
            "(COM1),\"9600 8E1, retry 1\",run\n"
            "1,19.3,08:00:00,answer,1,7,01 03 02 00 D7 F8 "
            "1A,<SOH><ETX><STX><NUL>\xC3\x97\xC3\xB8<SUB>,good,2026-12-09T08:00:00+01:00,/dev/"
            "ttyS9 (COM1),\"9600 8E1, retry 1\",run\n"
            "2,30.2,08:00:00,request,2,8,02 03 00 00 00 01 84 "
            "39,<STX><ETX><NUL><NUL><NUL><SOH><84>9,,2026-12-09T08:00:00+01:00,/dev/ttyS9 "
            "(COM1),\"9600 8E1, retry 1\",run\n"
            "2,45.5,08:00:00,answer,2,5,02 83 02 30 F1,<STX><83><STX>0\xC3\xB1,good (exception "
            "2),2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),\"9600 8E1, retry 1\",run\n"
            "3,54.1,08:00:00,request,3,8,03 03 00 00 00 01 85 "
            "E8,<ETX><ETX><NUL><NUL><NUL><SOH><85>\xC3\xA8,,2026-12-09T08:00:00+01:00,/dev/ttyS9 "
            "(COM1),\"9600 8E1, retry 1\",run\n"
            "3,69.4,08:00:00,answer,3,7,03 03 02 00 C2 40 "
            "EA,<ETX><ETX><STX><NUL>\xC3\x82@\xC3\xAA,CRC error "
            "!,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),\"9600 8E1, retry 1\",run\n"
            "4,104.3,08:00:00,request,3,8,03 03 00 00 00 01 85 "
            "E8,<ETX><ETX><NUL><NUL><NUL><SOH><85>\xC3\xA8,,2026-12-09T08:00:00+01:00,/dev/ttyS9 "
            "(COM1),\"9600 8E1, retry 1\",run\n"
            "4,119.6,08:00:00,answer,3,7,03 03 02 00 C4 C0 "
            "E8,<ETX><ETX><STX><NUL>\xC3\x84\xC3\x80\xC3\xA8,CRC error "
            "!,2026-12-09T08:00:00+01:00,/dev/ttyS9 (COM1),\"9600 8E1, retry 1\",run\n"
            "5,154.5,08:00:00,request,4,8,04 03 00 00 00 01 84 "
            "5F,<EOT><ETX><NUL><NUL><NUL><SOH><84>_,,2026-12-09T08:00:00+01:00,/dev/ttyS9 "
            "(COM1),\"9600 8E1, retry 1\",run\n"
            "5,654.5,08:00:00,answer,4,0,,,No answer !,2026-12-09T08:00:00+01:00,/dev/ttyS9 "
            "(COM1),\"9600 8E1, retry 1\",run\n"
            "6,682.6,08:00:00,request,4,8,04 03 00 00 00 01 84 "
            "5F,<EOT><ETX><NUL><NUL><NUL><SOH><84>_,,2026-12-09T08:00:00+01:00,/dev/ttyS9 "
            "(COM1),\"9600 8E1, retry 1\",run\n"
            "6,1182.6,08:00:01,answer,4,0,,,No answer !,2026-12-09T08:00:01+01:00,/dev/ttyS9 "
            "(COM1),\"9600 8E1, retry 1\",run\n"));
}

TEST_F(ModbusRunFiles, TheStatisticsCsv) {
    EXPECT_EQ(
        Read("stats.csv"),
        golden::Crlf(
            "Address,Requests,Good,No answer,CRC error,Wrong length,Wrong address or "
            "function,Answer cut,Exceptions,Success %,First min ms,First mean ms,First p95 "
            "ms,First max ms,Last min ms,Last mean ms,Last p95 ms,Last max ms,Last good "
            "answer,Judgement,Why,date-time,port,settings,statistics of\n"
            "1,1,1,0,0,0,0,0,0,100.0,6.1,6.1,6.1,6.1,13.0,13.0,13.0,13.0,08:00:00,healthy,The only "
            "exchange was good.,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),\"9600 8E1, retry "
            "1\",run\n"
            "2,1,1,0,0,0,0,0,1,100.0,6.1,6.1,6.1,6.1,10.7,10.7,10.7,10.7,08:00:00,healthy,The only "
            "exchange was good.,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),\"9600 8E1, retry "
            "1\",run\n"
            "3,2,0,0,2,0,0,0,0,0.0,,,,,,,,,,garbled,\"2 of 2 exchanges brought an answer with a "
            "CRC error, of the wrong length, cut short or from another address: the sign of noise "
            "on the line.\",2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),\"9600 8E1, retry 1\",run\n"
            "4,2,0,2,0,0,0,0,0,0.0,,,,,,,,,,silent,No answer to any of 2 "
            "requests.,2026-12-09T08:00:01+01:00,/dev/ttyS9 (COM1),\"9600 8E1, retry 1\",run\n"));
}

// The same writers as the windows' Save commands call them.
TEST(FileGolden, TheLineConfigurationAndListFilesAsTheWindowsWriteThem) {
    ControllerAddressTable table = StartupAddressTable();
    table[1] = 2;
    table[2] = 63;
    EXPECT_EQ(FormatLineConfiguration(3, table), " 3 \r\n"
                                                 " 0 \r\n"
                                                 " 2 \r\n"
                                                 " 63 \r\n");
    EXPECT_EQ(
        FormatListFile({"A  08:00:00  No answer !   0", "B  08:00:01  CR not received !   1"}),
        " 2 \r\n"
        "A  08:00:00  No answer !   0\r\n"
        "B  08:00:01  CR not received !   1\r\n");
    EXPECT_EQ(FormatListFile({}), " 0 \r\n");
    EXPECT_EQ(FormatListFile(Analyse({}).lines), " 1 \r\n"
                                                 "There is nothing to analyze !\r\n");
}

}  // namespace
}  // namespace tarvel
