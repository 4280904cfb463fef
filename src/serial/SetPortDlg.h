// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <functional>

#include "lines/PortMap.h"
#include "platform/Controls.h"
#include "platform/Prompts.h"
#include "platform/Tasks.h"
#include "serial/PortChoices.h"
#include "serial/PortService.h"

class QComboBox;
class QPushButton;

namespace tarvel {

// The modal dialog in which the operator chooses port, speed, parity, stop bits, retry count and
// protocol. It is hidden, never destroyed, so it shows the operator's last choices again.
class SetPortDlg final : public QDialog {
    Q_OBJECT
public:
    // `protocolPanel` gives panel 2 of the main window's status bar (creating the main window on
    // first use).
    // `ports` (none for a line that is not the host's) is asked again each time the dialog is
    // shown, and names each port entry's device in its tooltip.
    SetPortDlg(Primo& primo, PortService& port, Prompts& prompts,
               std::function<TextDisplay&()> protocolPanel, PortMap* ports = nullptr,
               QWidget* parent = nullptr);

    void Form_Load();
    void OkBtn_Click();
    void CancelBtn_Click();

    PortChoices Choices() const;
    void SetChoices(const PortChoices& choices);

    // Escape and the frame's close control act like "Cancel".
    void reject() override { CancelBtn_Click(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QComboBox* AddList(const char* label, QRect labelAt, QRect listAt);
    // OK's opening of the line and its "Not available port !" loop; a port across the network
    // connects meanwhile while the dialog stays drawn, its buttons held until it is done.
    QCoro::Task<> OpenChosenPort();

    Primo& primo_;
    PortService& port_;
    Prompts& prompts_;
    std::function<TextDisplay&()> protocolPanel_;
    PortMap* ports_;
    TaskOwner opening_;

    QComboBox* PortCmb;
    QComboBox* BaudCmb;
    QComboBox* ParityCmb;
    QComboBox* StopBitCmb;
    QComboBox* RetryCmb;
    QComboBox* ProtocolCmb;
    QPushButton* OkBtn;
    QPushButton* CancelBtn;
};

}  // namespace tarvel
