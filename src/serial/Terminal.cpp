// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/Terminal.h"

#include "platform/Waits.h"
#include "serial/LineExchange.h"
#include "serial/ReceiveAnswer.h"

namespace tarvel {

QCoro::Task<std::string> SendTerminalFrames(PortService& port, Primo& primo, std::string command,
                                            std::string value) {
    const TerminalAnswer answer =
        co_await SendTerminalExchange(port, primo, std::move(command), std::move(value));
    co_return answer.shown;
}

QCoro::Task<TerminalAnswer> SendTerminalExchange(PortService& port, Primo& primo,
                                                 std::string command, std::string value) {
    SerialLine& line = port.Line();
    const Protocol& protocol = port.LineProtocol();
    // The answer is to the last frame sent.
    Request request;
    request.frame = protocol.TerminalFrame(value.empty() ? command : value);
    const bool mayRepeat = AnswerMayRepeat(protocol, request, ExchangeKind::Terminal);
    primo.RequestText = command;
    if (!primo.RequestText.empty()) {
        line.OutputRequest(protocol.TerminalFrame(primo.RequestText), value.empty() && mayRepeat);
    }
    primo.RequestText = value;
    if (!primo.RequestText.empty()) {
        co_await Pause(port.Time(), port.TimingsOf(ExchangeKind::Terminal).pause);
        line.OutputRequest(protocol.TerminalFrame(primo.RequestText), mayRepeat);
    }
    const Duration window = port.TimingsOf(ExchangeKind::Terminal).window;
    co_return co_await ReceiveTerminalAnswer(port, window, request);
}

std::optional<char32_t> CharacterWithout8BitCode(const std::u32string& typed) {
    for (const char32_t c : typed) {
        if (c > 0xFF) {
            return c;
        }
    }
    return std::nullopt;
}

std::string TerminalInfoText() {
    // "\xe0" is "a" with a grave accent and "\xe8" "e" with a grave accent, in Latin-1.
    static const char* const kLines[] = {
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
    };
    std::string text;
    for (const char* line : kLines) {
        text += line;
        text += '\n';
    }
    return text;
}

}  // namespace tarvel
