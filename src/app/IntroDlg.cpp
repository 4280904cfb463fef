// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/IntroDlg.h"

#include <QLabel>
#include <QPushButton>

#include "ui/Artwork.h"
#include "ui/Twips.h"

namespace tarvel {

IntroDlg::IntroDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Line Tarvel");
    setFont(FormFont());
    setFixedSize(TwipsSize(6105, 3870));

    auto* title = new QLabel("Line\nTarvel", this);
    QFont big = title->font();
    big.setPixelSize(36);
    big.setBold(true);
    big.setItalic(true);
    title->setFont(big);
    title->setAlignment(Qt::AlignCenter);
    title->setGeometry(Twips(1800, 240, 2500, 1700));

    auto* line = new QLabel(this);
    line->setGeometry(Twips(240, 240, 1320, 2160));
    line->setPixmap(LinePicture(line->size()));
    auto* controller = new QLabel(this);
    controller->setGeometry(Twips(4560, 360, 1320, 1560));
    controller->setPixmap(ControllerPicture(controller->size()));

    auto* by = new QLabel(QString("By  ") + kMakerLogo, this);
    by->setGeometry(Twips(1800, 2040, 3600, 300));
    auto* mailCaption = new QLabel("e-mail address", this);
    mailCaption->setGeometry(Twips(240, 2640, 2400, 255));
    auto* mail = new QLabel(kContactAddress, this);
    mail->setGeometry(Twips(240, 2940, 3600, 255));

    OkBtn = new QPushButton("OK", this);
    OkBtn->setGeometry(Twips(4680, 3240, 1095, 375));
    OkBtn->setDefault(true);
    connect(OkBtn, &QPushButton::clicked, this, &IntroDlg::OkBtn_Click);
}

void IntroDlg::OkBtn_Click() { accept(); }

}  // namespace tarvel
