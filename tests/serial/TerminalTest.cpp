// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal's exchange on virtual time: the frames exactly as typed, the pause between them,
// the answer check; and the text of its Info box.

#include "serial/Terminal.h"

#include <gtest/gtest.h>

#include "protocol/ascon/AsconFrame.h"
#include "serial/ReceiveAnswer.h"
#include "support/FramePeer.h"
#include "support/LineRig.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct TerminalTest : ::testing::Test, testing::LineRig {
    std::string reply;  // what the far end answers to every frame, after 5 ms
    testing::FramePeer peer{line, [this](const std::string&, Instant end) {
                                if (!reply.empty()) {
                                    line.DeliverFrom(end + 5ms, reply);
                                }
                            }};
    std::string Send(const std::string& command, const std::string& value) {
        return testing::RunToEnd(time, SendTerminalFrames(port, primo, command, value));
    }
};

TEST_F(TerminalTest, AReadRequestIsOneFrameAndItsAnswerIsShownWithoutTheReturn) {
    reply = "A215\r";
    EXPECT_EQ(Send("A?X  ", ""), "A215");
    EXPECT_EQ(line.TransmittedText(), "A?X  \r");
    // No pause before it: its first character left at once.
    EXPECT_EQ(line.Transmitted().front().end.time_since_epoch(), CharacterTime());
    EXPECT_EQ(primo.RequestText, "");
}

TEST_F(TerminalTest, TwoFramesGoOutAFiftiethApartAndAnswersToBothAreTooMany) {
    // The answers to both frames reach the host together (as through an adapter that buffers),
    // after the second frame.
    testing::FramePeer both{line, [this](const std::string& frame, Instant end) {
                                if (frame == "A 0012") {
                                    for (const char c : std::string("A215\rA012\r")) {
                                        line.DeliverAt(end + 5ms, static_cast<std::uint8_t>(c));
                                    }
                                }
                            }};
    EXPECT_EQ(Send("A*MAN", "A 0012"), kWrongCount);
    ASSERT_GE(both.frames.size(), 2u);
    EXPECT_EQ(both.frames[0], "A*MAN");
    EXPECT_EQ(both.frames[1], "A 0012");
    const Duration character = CharacterTime();
    // The second frame was handed over 0.05 s after the first; each ends after its characters.
    EXPECT_EQ((both.ends[1] - character * 7) - (both.ends[0] - character * 6), TerminalValuePause);
    EXPECT_EQ(line.InBufferCount(), 0);  // the surplus went with the settle
}

TEST_F(TerminalTest, NothingTypedSendsNothingAndWaitsForNoAnswer) {
    EXPECT_EQ(Send("", ""), kNoAnswer);
    EXPECT_EQ(line.TransmittedText(), "\r");  // only the settle's carriage return
    EXPECT_GT(Elapsed(), TerminalAnswerWindow + SettleTime);
    EXPECT_LT(Elapsed(), TerminalAnswerWindow + SettleTime + 1ms);
}

TEST_F(TerminalTest, AValueAloneGoesOutAfterThePauseAndBlanksAreSentAsTyped) {
    reply = "B100\r";
    EXPECT_EQ(Send("", "  B!SP 0100 "), "B100");
    ASSERT_FALSE(peer.frames.empty());
    EXPECT_EQ(peer.frames[0], "  B!SP 0100 ");
    EXPECT_EQ(line.Transmitted().front().end.time_since_epoch(),
              TerminalValuePause + CharacterTime());
}

TEST(TerminalText, OnlyCharactersWithAnEightBitCodeCanBeSent) {
    EXPECT_FALSE(CharacterWithout8BitCode(U"A?X  \u00e0\u00ff"));
    EXPECT_EQ(CharacterWithout8BitCode(U"A\u20acB"), U'\u20ac');
}

TEST(TerminalText, TheInfoBoxHasItsEighteenLinesEachEndedByALineFeed) {
    const std::string text = TerminalInfoText();
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_EQ(start, text.size()) << "the last line is ended too";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Nella finestra di input Command, va inserito",
                         "l'indirizzo del regolatore ( A, B,...) seguito dal",
                         "comando ( ? - ! - * - ^ - >) seguito dal codice",
                         "mnemonico del parametro da editare (4 char.)",
                         "Es. A?PB1 - A*MAN - C?X  ",
                         "Nella finestra Value si deve inserire l'indirizzo",
                         "del regolatore ( A, B,...) seguito dal valore",
                         "del parametro che si vuole modificare formattato",
                         "nel seguente formato( 0000 ).",
                         "Nella finestra Answer si legger\xe0 la stringa di",
                         "ritorno dal regolatore in esame.",
                         "Nei regolatori di recente produzione (XS-XP-XE-XF-MS etc.)",
                         "\xe8 possibile assegnare un valore ad un qualsiasi parametro,",
                         "con una sola stringa composta: dall'indirizzo + il codice di",
                         "assegnazione + il codice mnemonico del parametro + il valore",
                         "da assegnare per un totale di 10 char. Es. A!WL 0012 - A!PB10500",
                         "A!FF 0042 Per ulteriori informazioni, si veda il manuale della ",
                         "comunicazione seriale degli strumenti in esame. ",
                     }));
}

}  // namespace
}  // namespace tarvel
