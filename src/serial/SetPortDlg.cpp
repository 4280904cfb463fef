// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/SetPortDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "ui/Artwork.h"
#include "ui/QtControls.h"
#include "ui/Twips.h"

namespace tarvel {
namespace {

void Fill(QComboBox* list, const std::vector<std::string>& entries, int preset) {
    for (const std::string& entry : entries) {
        list->addItem(ToQt(entry));
    }
    list->setCurrentIndex(preset);
}

}  // namespace

SetPortDlg::SetPortDlg(Primo& primo, PortService& port, Prompts& prompts,
                       std::function<TextDisplay&()> protocolPanel, PortMap* ports, QWidget* parent)
    : QDialog(parent),
      primo_(primo),
      port_(port),
      prompts_(prompts),
      protocolPanel_(std::move(protocolPanel)),
      ports_(ports),
      opening_(port.Time(), [this](const std::string& what) {
          OkBtn->setEnabled(true);
          CancelBtn->setEnabled(true);
          prompts_.ShowMessage({"Not available port !", "Info Box", MessageIcon::Critical,
                                MessageButtons::Ok, what});
      }) {
    setWindowTitle("Configuration Port");
    setFont(FormFont());
    setFixedSize(TwipsSize(4260, 2760));

    PortCmb = AddList("Port N\u00b0", Twips(240, 300, 700, 255), Twips(960, 240, 975, 330));
    BaudCmb = AddList("Baud", Twips(240, 900, 700, 255), Twips(960, 840, 975, 330));
    ParityCmb = AddList("Parity", Twips(240, 1500, 700, 255), Twips(960, 1440, 975, 330));
    StopBitCmb = AddList("StopBit", Twips(2160, 300, 800, 255), Twips(3000, 240, 975, 330));
    RetryCmb = AddList("Retry", Twips(2280, 900, 700, 255), Twips(3000, 840, 975, 330));
    ProtocolCmb = AddList("Type", Twips(2160, 1500, 580, 255), Twips(2760, 1440, 1215, 330));

    auto* logo = new QLabel(kMakerLogo, this);
    logo->setGeometry(Twips(120, 2040, 1620, 615));
    logo->setWordWrap(true);
    QFont italic = logo->font();
    italic.setItalic(true);
    italic.setBold(true);
    logo->setFont(italic);

    OkBtn = new QPushButton("OK", this);
    OkBtn->setGeometry(Twips(2640, 2160, 495, 375));
    OkBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setGeometry(Twips(3240, 2160, 735, 375));
    connect(OkBtn, &QPushButton::clicked, this, &SetPortDlg::OkBtn_Click);
    connect(CancelBtn, &QPushButton::clicked, this, &SetPortDlg::CancelBtn_Click);

    Form_Load();
}

QComboBox* SetPortDlg::AddList(const char* label, QRect labelAt, QRect listAt) {
    auto* caption = new QLabel(QString::fromUtf8(label), this);
    caption->setGeometry(labelAt);
    auto* list = new QComboBox(this);
    list->setEditable(false);
    list->setGeometry(listAt);
    return list;
}

void SetPortDlg::Form_Load() {
    const PortChoices presets;
    Fill(PortCmb, PortDialogEntries::Ports(), presets.port);
    Fill(BaudCmb, PortDialogEntries::Bauds(), presets.baud);
    Fill(ParityCmb, PortDialogEntries::Parities(), presets.parity);
    Fill(StopBitCmb, PortDialogEntries::StopBits(), presets.stopBits);
    Fill(ProtocolCmb, PortDialogEntries::Protocols(), presets.protocol);
    Fill(RetryCmb, PortDialogEntries::Retries(), presets.retry);
}

PortChoices SetPortDlg::Choices() const {
    return PortChoices{PortCmb->currentIndex(),   BaudCmb->currentIndex(),
                       ParityCmb->currentIndex(), StopBitCmb->currentIndex(),
                       RetryCmb->currentIndex(),  ProtocolCmb->currentIndex()};
}

void SetPortDlg::SetChoices(const PortChoices& choices) {
    PortCmb->setCurrentIndex(choices.port);
    BaudCmb->setCurrentIndex(choices.baud);
    ParityCmb->setCurrentIndex(choices.parity);
    StopBitCmb->setCurrentIndex(choices.stopBits);
    RetryCmb->setCurrentIndex(choices.retry);
    ProtocolCmb->setCurrentIndex(choices.protocol);
}

void SetPortDlg::showEvent(QShowEvent* event) {
    // An adapter plugged in since the last showing is there now.
    if (ports_ != nullptr) {
        ports_->Refresh();
        for (int entry = 0; entry < PortCmb->count(); ++entry) {
            PortCmb->setItemData(entry, ToQt(ports_->Describe(entry + PortMap::kFirstPort)),
                                 Qt::ToolTipRole);
        }
    }
    QDialog::showEvent(event);
}

void SetPortDlg::OkBtn_Click() {
    if (opening_.Running() > 0) {
        return;
    }
    TextDisplay& protocolPanel = protocolPanel_();
    ApplyPortChoices(Choices(), primo_);
    protocolPanel.SetText(FromQt(ProtocolCmb->currentText()));
    primo_.DataBitsText = DataBitsFor(primo_.ParityText);
    // The line's framing is the chosen protocol's: Modbus RTU has 8 data bits with a parity too.
    if (const Protocol* chosen = ProtocolAt(Choices().protocol)) {
        primo_.DataBitsText = std::to_string(chosen->DataBitsFor(primo_.ParityText != "N"));
    }
    opening_.Start(OpenChosenPort());
}

QCoro::Task<> SetPortDlg::OpenChosenPort() {
    OkBtn->setEnabled(false);
    CancelBtn->setEnabled(false);
    bool opened = false;
    while (true) {
        const bool failed = co_await port_.OpenPortAsync();
        if (!failed) {
            opened = true;
            break;
        }
        const MessageAnswer answer =
            prompts_.ShowMessage({"Not available port !", "Info Box", MessageIcon::Critical,
                                  MessageButtons::RetryCancel, port_.OpenFailure()});
        if (answer != MessageAnswer::Retry) {
            break;
        }
    }
    OkBtn->setEnabled(true);
    CancelBtn->setEnabled(true);
    if (opened) {
        done(QDialog::Accepted);
        primo_.PortAccepted = kTrue;
    }
}

void SetPortDlg::CancelBtn_Click() {
    if (opening_.Running() > 0) {
        return;  // Escape while connecting: the opening ends by itself within seconds
    }
    primo_.PortAccepted = kFalse;
    done(QDialog::Rejected);
}

}  // namespace tarvel
