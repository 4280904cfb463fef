#include "serial/TerminalDlg.h"

#include <QLabel>
#include <QMenuBar>

#include "ui/Artwork.h"
#include "ui/Twips.h"

namespace tarvel {

TerminalDlg::TerminalDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("KeyBoard");
    setFont(FormFont());
    auto* menu = new QMenuBar(this);
    QAction* exitMenu = menu->addAction("&Exit !");
    connect(exitMenu, &QAction::triggered, this, &TerminalDlg::ExitMenu_Click);
    QWidget* body = FixedClientArea(*this, menu, TwipsSize(3225, 2730));
    auto* note = new QLabel("The terminal is not available yet.", body);
    note->setGeometry(body->rect());
    note->setAlignment(Qt::AlignCenter);
}

void TerminalDlg::ExitMenu_Click() { accept(); }

}  // namespace tarvel
