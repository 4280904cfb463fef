// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/AnalizerDlg.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>

#include <QListView>
#include "ui/Artwork.h"

#include "ui/Twips.h"

namespace tarvel {

AnalizerDlg::AnalizerDlg(std::function<Switch&()> analizeButton, Prompts& prompts,
                         Scheduler& scheduler, QWidget* parent)
    : QWidget(parent, Qt::Window),
      analizeButton_(std::move(analizeButton)),
      commands_(prompts, scheduler),
      tasks_(scheduler, [&prompts](const std::string& what) {
          prompts.ShowMessage({"The file could not be handled: " + what, "Info Box",
                               MessageIcon::Critical, MessageButtons::Ok, std::string()});
      }) {
    setWindowTitle("The tarvel's opinions");
    setFont(FormFont());
    auto* menu = new QMenuBar(this);
    QMenu* file = menu->addMenu("&File");
    connect(file->addAction("Save Analisys"), &QAction::triggered, this,
            &AnalizerDlg::SaveMEnu_Click);
    connect(file->addAction("Load Analisys"), &QAction::triggered, this,
            &AnalizerDlg::LoadMenu_Click);
    connect(file->addAction("Load Error List"), &QAction::triggered, this,
            &AnalizerDlg::LoadErrMenu_Click);
    connect(file->addAction("Del Select Item"), &QAction::triggered, this,
            &AnalizerDlg::DelErrSelMenu_Click);
    connect(file->addAction("Delete All"), &QAction::triggered, this,
            &AnalizerDlg::DelErrMenu_Click);
    QMenu* analysis = menu->addMenu("&Analisys");
    connect(analysis->addAction("Start Analisys"), &QAction::triggered, this,
            &AnalizerDlg::StartMenu_Click);
    connect(menu->addAction("E&xit !"), &QAction::triggered, this, &AnalizerDlg::ExitMenu_Click);

    // Wide enough for a controller line of a list of a million records.
    QWidget* client = FixedClientArea(*this, menu, TwipsSize(10560, 4200));
    list_ = std::make_unique<LineList>(client, Twips(120, 120, 9000, 3960));
    StyleRecordList(list_->View(), Qt::black);
    auto* picture = new QLabel(client);
    picture->setGeometry(Twips(9240, 120, 1200, 2400));
    picture->setPixmap(ControllerPicture(picture->size()));
    auto* logo = new QLabel(kMakerLogo, client);
    logo->setGeometry(Twips(9240, 2640, 1200, 615));
    logo->setWordWrap(true);
}

AnalizerDlg::~AnalizerDlg() = default;

void AnalizerDlg::SaveMEnu_Click() {
    if (!commands_.RefuseWhileBusy(tasks_.Running())) {
        tasks_.Start(commands_.Save(*list_, SaveAnalysisRequest()));
    }
}

void AnalizerDlg::LoadMenu_Click() {
    if (!commands_.RefuseWhileBusy(tasks_.Running())) {
        tasks_.Start(commands_.Load(*list_, LoadAnalysisRequest()));
    }
}

void AnalizerDlg::LoadErrMenu_Click() {
    if (!commands_.RefuseWhileBusy(tasks_.Running())) {
        tasks_.Start(commands_.Load(*list_, LoadErrorListRequest()));
    }
}

void AnalizerDlg::DelErrSelMenu_Click() {
    // The line the operator selected here, in the analyzer's own list.
    list_->RemoveItem(list_->SelectedIndex());
    if (list_->Count() == 0) {
        list_->SetVisible(false);
    }
}

void AnalizerDlg::DelErrMenu_Click() {
    list_->Clear();
    list_->SetVisible(false);
}

void AnalizerDlg::ExitMenu_Click() {
    analizeButton_().SetEnabled(true);
    hide();
}

void AnalizerDlg::closeEvent(QCloseEvent* event) {
    // Like "E&xit !": otherwise "Analize" would stay disabled for good.
    event->ignore();
    ExitMenu_Click();
}

}  // namespace tarvel
