#include "analysis/ClipDlg.h"

#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>

#include "ui/Artwork.h"
#include "ui/Twips.h"

namespace tarvel {

ClipDlg::ClipDlg(std::function<Switch&()> reportButton, std::function<void()> analyze,
                 QWidget* parent)
    : QWidget(parent, Qt::Window),
      reportButton_(std::move(reportButton)),
      analyze_(std::move(analyze)) {
    setWindowTitle("ClipBoard");
    setFont(FormFont());

    auto* menu = new QMenuBar(this);
    QMenu* file = menu->addMenu("&File");
    SaveMEnu = file->addAction("Save Error List");
    LoadMenu = file->addAction("Load Error List");
    // The list files come with their own commands; until then these two stay greyed.
    SaveMEnu->setEnabled(false);
    LoadMenu->setEnabled(false);
    QMenu* listMenu = menu->addMenu("&ListError");
    QAction* delSel = listMenu->addAction("Delete Selected");
    QAction* delAll = listMenu->addAction("Delete All");
    QAction* analysis = menu->addAction("&Analisys !");
    QAction* cancel = menu->addAction("E&xit !");
    connect(delSel, &QAction::triggered, this, &ClipDlg::DelSelMenu_Click);
    connect(delAll, &QAction::triggered, this, &ClipDlg::DelAllMenu_Click);
    connect(analysis, &QAction::triggered, this, &ClipDlg::AnalisysMenu_Click);
    connect(cancel, &QAction::triggered, this, &ClipDlg::CancelMenu_Click);

    QWidget* client = FixedClientArea(*this, menu, TwipsSize(6600, 4200));
    ListBox_ = new QListWidget(client);
    ListBox_->setGeometry(Twips(120, 120, 5160, 3960));
    StyleRecordList(*ListBox_, QColor(0, 0, 64));
    auto* picture = new QLabel(client);
    picture->setGeometry(Twips(5400, 120, 1080, 1680));
    picture->setPixmap(ControllerPicture(picture->size()));
    list_ = std::make_unique<WidgetListBox>(ListBox_);
}

ClipDlg::~ClipDlg() = default;

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
