// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/ListDlg.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>

#include "ui/Artwork.h"
#include "ui/Twips.h"

namespace tarvel {

ListDlg::ListDlg(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle("Controller List");
    setFont(FormFont());
    auto* menu = new QMenuBar(this);
    QAction* exitMenu = menu->addAction("E&xit !");
    connect(exitMenu, &QAction::triggered, this, &ListDlg::ExitMenu_Click);

    QWidget* client = FixedClientArea(*this, menu, TwipsSize(4800, 3120));
    list_ = std::make_unique<LineList>(client, Twips(120, 120, 3240, 2880));
    auto* picture = new QLabel(client);
    picture->setGeometry(Twips(3480, 120, 1200, 2880));
    picture->setPixmap(ControllerPicture(picture->size()));
}

ListDlg::~ListDlg() = default;

void ListDlg::ExitMenu_Click() { hide(); }

void ListDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    ExitMenu_Click();
}

}  // namespace tarvel
