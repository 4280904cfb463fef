// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/ClipDlg.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>

#include <QListView>
#include "ui/Artwork.h"

#include "ui/Twips.h"

namespace tarvel {

ClipDlg::ClipDlg(std::function<Switch&()> reportButton, std::function<void()> analyze,
                 Prompts& prompts, Scheduler& scheduler, QWidget* parent)
    : QWidget(parent, Qt::Window),
      reportButton_(std::move(reportButton)),
      analyze_(std::move(analyze)),
      commands_(prompts, scheduler),
      tasks_(scheduler, [&prompts](const std::string& what) {
          prompts.ShowMessage({"The error list file could not be handled: " + what, "Info Box",
                               MessageIcon::Critical, MessageButtons::Ok, std::string()});
      }) {
    setWindowTitle("ClipBoard");
    setFont(FormFont());

    auto* menu = new QMenuBar(this);
    QMenu* file = menu->addMenu("&File");
    connect(file->addAction("Save Error List"), &QAction::triggered, this,
            &ClipDlg::SaveMEnu_Click);
    connect(file->addAction("Load Error List"), &QAction::triggered, this,
            &ClipDlg::LoadMenu_Click);
    QMenu* listMenu = menu->addMenu("&ListError");
    connect(listMenu->addAction("Delete Selected"), &QAction::triggered, this,
            &ClipDlg::DelSelMenu_Click);
    connect(listMenu->addAction("Delete All"), &QAction::triggered, this,
            &ClipDlg::DelAllMenu_Click);
    connect(menu->addAction("&Analisys !"), &QAction::triggered, this,
            &ClipDlg::AnalisysMenu_Click);
    connect(menu->addAction("E&xit !"), &QAction::triggered, this, &ClipDlg::CancelMenu_Click);

    QWidget* client = FixedClientArea(*this, menu, TwipsSize(6600, 4200));
    list_ = std::make_unique<LineList>(client, Twips(120, 120, 5160, 3960));
    StyleRecordList(list_->View(), QColor(0, 0, 64));
    auto* picture = new QLabel(client);
    picture->setGeometry(Twips(5400, 120, 1080, 1680));
    picture->setPixmap(ControllerPicture(picture->size()));
}

ClipDlg::~ClipDlg() = default;

void ClipDlg::SaveMEnu_Click() {
    if (!commands_.RefuseWhileBusy(tasks_.Running())) {
        tasks_.Start(commands_.Save(*list_, SaveErrorListRequest()));
    }
}

void ClipDlg::LoadMenu_Click() {
    if (!commands_.RefuseWhileBusy(tasks_.Running())) {
        tasks_.Start(commands_.Load(*list_, LoadErrorListRequest()));
    }
}

void ClipDlg::CancelMenu_Click() {
    reportButton_().SetEnabled(true);
    hide();
}

void ClipDlg::DelAllMenu_Click() {
    list_->Clear();
    list_->SetVisible(false);
}

void ClipDlg::DelSelMenu_Click() {
    list_->RemoveItem(list_->SelectedIndex());
    if (list_->Count() == 0) {
        list_->SetVisible(false);
    }
}

void ClipDlg::closeEvent(QCloseEvent* event) {
    // Like "E&xit !": otherwise "Report" would stay disabled for good.
    event->ignore();
    CancelMenu_Click();
}

}  // namespace tarvel
