// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/TerminalDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <cstdio>

#include "serial/Terminal.h"
#include "ui/Artwork.h"
#include "ui/QtControls.h"
#include "ui/Twips.h"

namespace tarvel {
namespace {

QLabel* Caption(QWidget* parent, const char* text, int left, int top) {
    auto* caption = new QLabel(text, parent);
    caption->move(Pixels(left), Pixels(top));
    caption->adjustSize();
    return caption;
}

}  // namespace

TerminalDlg::TerminalDlg(Primo& primo, PortService& port, Prompts& prompts, QWidget* parent)
    : QDialog(parent),
      primo_(primo),
      port_(port),
      prompts_(prompts),
      exchanges_(port.Time(), [this](const std::string& what) {
          SendBtn->setEnabled(true);
          prompts_.ShowMessage({"The request could not be sent: " + what, "Info Box",
                                MessageIcon::Critical, MessageButtons::Ok, std::string()});
      }) {
    setWindowTitle("KeyBoard");
    setFont(FormFont());
    auto* menu = new QMenuBar(this);
    connect(menu->addAction("&Info"), &QAction::triggered, this, &TerminalDlg::InfoMenu_Click);
    connect(menu->addAction("&Exit !"), &QAction::triggered, this, &TerminalDlg::ExitMenu_Click);
    QWidget* client = FixedClientArea(*this, menu, TwipsSize(3225, 2730));

    Caption(client, "Command", 120, 360);
    Head = new QLineEdit(client);
    Head->setGeometry(Twips(960, 240, 1215, 330));
    Caption(client, "Value", 360, 720);
    Variable = new QLineEdit(client);
    Variable->setGeometry(Twips(960, 600, 1215, 330));
    SendBtn = new QPushButton("Send", client);
    SendBtn->setGeometry(Twips(2460, 240, 555, 735));
    SendBtn->setDefault(true);
    Caption(client, "Answer", 240, 1440);
    Answer = new QLabel(client);
    Answer->setGeometry(Twips(960, 1320, 2052, 372));
    Answer->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Answer->setTextFormat(Qt::PlainText);
    auto* logo = new QLabel(kMakerLogo, client);
    logo->setGeometry(Twips(120, 1920, 1860, 615));
    logo->setWordWrap(true);
    connect(SendBtn, &QPushButton::clicked, this, &TerminalDlg::SendBtn_Click);
}

void TerminalDlg::SendBtn_Click() {
    // One exchange at a time: two on one line would garble each other.
    if (exchanges_.Running() > 0) {
        return;
    }
    // Typed text goes on the wire one byte a character; a character without an 8-bit code
    // would go out as something else.
    for (const QLineEdit* input : {Head, Variable}) {
        if (const auto c = CharacterWithout8BitCode(input->text().toStdU32String())) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(*c));
            prompts_.ShowMessage({std::string("The character ") + code +
                                      " cannot be sent: the line carries 8-bit characters "
                                      "only. Nothing was sent.",
                                  "Info Box", MessageIcon::Exclamation, MessageButtons::Ok,
                                  std::string()});
            return;
        }
    }
    SendBtn->setEnabled(false);
    exchanges_.Start(Exchange(FromQt(Head->text()), FromQt(Variable->text())));
}

QCoro::Task<> TerminalDlg::Exchange(std::string command, std::string value) {
    const std::string result =
        co_await SendTerminalFrames(port_, primo_, std::move(command), std::move(value));
    Answer->setText(ToQt(result));
    SendBtn->setEnabled(true);
}

void TerminalDlg::InfoMenu_Click() {
    prompts_.ShowMessage({TerminalInfoText(), "Info Box", MessageIcon::Information,
                          MessageButtons::Ok, std::string()});
}

void TerminalDlg::ExitMenu_Click() { done(QDialog::Accepted); }

}  // namespace tarvel
