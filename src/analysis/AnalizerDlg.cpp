#include "analysis/AnalizerDlg.h"

#include <QCloseEvent>
#include <QListWidget>
#include <QMenuBar>

#include "ui/Artwork.h"
#include "ui/Twips.h"

namespace tarvel {

AnalizerDlg::AnalizerDlg(std::function<Switch&()> analizeButton, QWidget* parent)
    : QWidget(parent, Qt::Window), analizeButton_(std::move(analizeButton)) {
    setWindowTitle("The tarvel's opinions");
    setFont(FormFont());
    auto* menu = new QMenuBar(this);
    QAction* exitMenu = menu->addAction("E&xit !");
    connect(exitMenu, &QAction::triggered, this, &AnalizerDlg::ExitMenu_Click);

    QWidget* client = FixedClientArea(*this, menu, TwipsSize(7200, 4200));
    ListBox_ = new QListWidget(client);
    ListBox_->setGeometry(Twips(120, 120, 6960, 3960));
    StyleRecordList(*ListBox_, Qt::black);
    list_ = std::make_unique<WidgetListBox>(ListBox_);
}

AnalizerDlg::~AnalizerDlg() = default;

void AnalizerDlg::ExitMenu_Click() {
    analizeButton_().SetEnabled(true);
    hide();
}

void AnalizerDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    ExitMenu_Click();
}

void CopyErrorListToAnalyzer(ListBox& errors, AnalizerDlg& analyzer, Switch& analizeButton) {
    ListBox& copy = analyzer.List();
    const int count = errors.Count();
    if (count < 1) {
        copy.SetVisible(false);
    } else {
        copy.Clear();
        for (int i = 0; i < count; ++i) {
            copy.AddItem(errors.Item(i));
        }
        copy.SetVisible(true);
    }
    analizeButton.SetEnabled(false);
    analyzer.show();
    analyzer.raise();
}

}  // namespace tarvel
