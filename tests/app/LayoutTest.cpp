// SPDX-License-Identifier: GPL-3.0-or-later
// The windows' layouts, row by row as the layout tables give them: captions, group titles,
// positions in twips, menus in order, status panels, and the entries the lists hold.

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <optional>

#include "app/TarvelDlg.h"
#include "serial/SetPortDlg.h"
#include "support/ProgramRig.h"
#include "ui/ClickablePicture.h"
#include "ui/QtPrompts.h"
#include "ui/StatusPanels.h"

namespace tarvel {
namespace {

using testing::ProgramRig;

// 15 twips to a pixel at 96 dots per inch, rounded to the nearest pixel.
int Px(int twips) { return (twips + 7) / 15; }
QRect TwipRect(int left, int top, int width, int height) {
    return {Px(left), Px(top), Px(width), Px(height)};
}

struct Row {
    const char* kind;  // "button", "list", "display", "label", "picture", "progress"
    std::optional<QString> text;
    QRect at;  // for a label only its top left counts
    bool enabled = true;
};

// The widgets of `kind` in `parent` whose text (where the row gives one) matches.
std::vector<QWidget*> Candidates(QWidget& parent, const Row& row) {
    std::vector<QWidget*> found;
    const std::string kind = row.kind;
    auto matches = [&](const QString& text) { return !row.text || *row.text == text; };
    if (kind == "button") {
        for (auto* w : parent.findChildren<QPushButton*>()) {
            if (matches(w->text()))
                found.push_back(w);
        }
    } else if (kind == "list") {
        for (auto* w : parent.findChildren<QComboBox*>())
            found.push_back(w);
    } else if (kind == "label" || kind == "display") {
        for (auto* w : parent.findChildren<QLabel*>()) {
            const bool framed = w->frameShape() != QFrame::NoFrame;
            if (matches(w->text()) && framed == (kind == "display") &&
                !qobject_cast<ClickablePicture*>(w)) {
                found.push_back(w);
            }
        }
    } else if (kind == "picture") {
        for (auto* w : parent.findChildren<ClickablePicture*>())
            found.push_back(w);
    } else if (kind == "progress") {
        for (auto* w : parent.findChildren<QProgressBar*>())
            found.push_back(w);
    }
    return found;
}

void ExpectLayout(QWidget& parent, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        const std::string name =
            std::string(row.kind) + " " + (row.text ? row.text->toStdString() : "(no text)");
        bool placed = false;
        for (QWidget* w : Candidates(parent, row)) {
            const bool here = std::string(row.kind) == "label" ? w->pos() == row.at.topLeft()
                                                               : w->geometry() == row.at;
            if (here) {
                placed = true;
                EXPECT_EQ(w->isEnabled(), row.enabled) << name;
            }
        }
        EXPECT_TRUE(placed) << name << " is not at " << row.at.x() << "," << row.at.y() << " "
                            << row.at.width() << "x" << row.at.height();
    }
}

QStringList Entries(const QComboBox& list) {
    QStringList entries;
    for (int i = 0; i < list.count(); ++i) {
        entries << list.itemText(i);
    }
    return entries;
}

QStringList Numbers(int from, int to) {
    QStringList numbers;
    for (int i = from; i <= to; ++i) {
        numbers << QString::number(i);
    }
    return numbers;
}

QComboBox* ListAt(QWidget& parent, QRect at) {
    for (auto* list : parent.findChildren<QComboBox*>()) {
        if (list->geometry() == at) {
            return list;
        }
    }
    return nullptr;
}

TEST(Layout, TheMainWindowHasEveryControlOfItsTableWhereTheTableSays) {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    QWidget& client = *main.centralWidget();
    EXPECT_EQ(main.windowTitle(), "Tarvel at work");
    EXPECT_EQ(client.size(), QSize(Px(6375), Px(3630)));
    EXPECT_EQ(main.minimumSize(), main.maximumSize());

    ExpectLayout(client, {
                             {"label", "Port Setting", TwipRect(120, 120, 0, 0)},
                             {"button", "Comm", TwipRect(240, 480, 855, 375)},
                             {"label", "Total Device", TwipRect(1560, 120, 0, 0)},
                             {"list", {}, TwipRect(1680, 480, 855, 315)},
                             {"label", "Associate", TwipRect(3000, 120, 0, 0)},
                             {"label", "Controller", TwipRect(3120, 360, 0, 0)},
                             {"label", "Address", TwipRect(4080, 360, 0, 0)},
                             {"list", {}, TwipRect(3120, 600, 855, 315)},
                             {"list", {}, TwipRect(4080, 600, 855, 315)},
                             {"picture", {}, TwipRect(5160, 120, 975, 2055)},
                             {"label", "Line Scan", TwipRect(120, 1080, 0, 0)},
                             {"button", "Start", TwipRect(240, 1440, 735, 375)},
                             {"button", "Stop", TwipRect(1080, 1440, 735, 375), false},
                             {"label", "Terminal", TwipRect(2040, 1080, 0, 0)},
                             {"button", "Terminal", TwipRect(2160, 1440, 855, 375)},
                             {"label", "Control Error", TwipRect(3360, 1080, 0, 0)},
                             {"button", "Report", TwipRect(3360, 1440, 735, 375)},
                             {"button", "Analize", TwipRect(4200, 1440, 735, 375)},
                             {"label", "Send", TwipRect(120, 2040, 0, 0)},
                             {"display", "", TwipRect(120, 2400, 975, 255)},
                             {"label", "Receive", TwipRect(1200, 2040, 0, 0)},
                             {"display", "", TwipRect(1200, 2400, 2535, 255)},
                             {"label", "Total Error", TwipRect(3840, 2040, 0, 0)},
                             {"display", "0", TwipRect(3960, 2400, 435, 255)},
                             {"button", "Res", TwipRect(4440, 2400, 495, 255), false},
                             {"button", "Controller List", TwipRect(5280, 2280, 975, 495)},
                             {"progress", {}, TwipRect(0, 2880, 6375, 255)},
                         });

    // The status bar and its four panels, left to right: 3025, 1350, 1025, 875 twips wide.
    StatusPanels& status = main.StatusBar();
    EXPECT_EQ(status.geometry(), TwipRect(0, 3135, 6375, 495));
    std::vector<int> lefts;
    for (auto* panel : status.findChildren<QLabel*>()) {
        lefts.push_back(panel->x());
    }
    std::sort(lefts.begin(), lefts.end());
    EXPECT_EQ(lefts, (std::vector<int>{Px(0), Px(3025), Px(4375), Px(5400)}));

    // The menu bar, in order; the line monitor's entry comes after the others.
    QStringList bar;
    for (QAction* action : main.menuBar()->actions()) {
        bar << action->text();
    }
    EXPECT_EQ(bar, (QStringList{"&File", "&Search!", "E&xit !", "&Monitor"}));
    QStringList file;
    for (QAction* action : main.menuBar()->actions().front()->menu()->actions()) {
        file << action->text();
    }
    EXPECT_EQ(file, (QStringList{"Reset Line Conf.", "Save Line Conf.", "Load Line Conf."}));

    // The lists as the widgets hold them.
    QComboBox* count = ListAt(client, TwipRect(1680, 480, 855, 315));
    QComboBox* controller = ListAt(client, TwipRect(3120, 600, 855, 315));
    QComboBox* address = ListAt(client, TwipRect(4080, 600, 855, 315));
    ASSERT_TRUE(count && controller && address);
    EXPECT_EQ(Entries(*count), Numbers(1, 64));
    EXPECT_EQ(count->currentText(), "1");
    EXPECT_EQ(Entries(*controller), QStringList{"1"});
    EXPECT_EQ(Entries(*address), Numbers(0, 63));
    EXPECT_EQ(address->currentText(), "0");
}

TEST(Layout, ThePortDialogHasEveryListOfItsTableWithItsEntriesAndPresets) {
    ProgramRig rig;
    SetPortDlg& dialog = rig.program.SetPort();
    EXPECT_EQ(dialog.windowTitle(), "Configuration Port");
    EXPECT_EQ(dialog.size(), QSize(Px(4260), Px(2760)));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    ExpectLayout(dialog, {
                             {"label", QString::fromUtf8("Port N\u00b0"), TwipRect(240, 300, 0, 0)},
                             {"label", "Baud", TwipRect(240, 900, 0, 0)},
                             {"label", "Parity", TwipRect(240, 1500, 0, 0)},
                             {"label", "StopBit", TwipRect(2160, 300, 0, 0)},
                             {"label", "Retry", TwipRect(2280, 900, 0, 0)},
                             {"label", "Type", TwipRect(2160, 1500, 0, 0)},
                             {"button", "OK", TwipRect(2640, 2160, 495, 375)},
                             {"button", "Cancel", TwipRect(3240, 2160, 735, 375)},
                         });
    struct ListRow {
        QRect at;
        QStringList entries;
        QString preset;
    };
    const std::vector<ListRow> lists = {
        {TwipRect(960, 240, 975, 330), {"COM1", "COM2", "COM3", "COM4"}, "COM1"},
        {TwipRect(960, 840, 975, 330),
         {"150", "300", "600", "1200", "2400", "4800", "9600"},
         "4800"},
        {TwipRect(960, 1440, 975, 330), {"None", "Even", "Odd"}, "None"},
        {TwipRect(3000, 240, 975, 330), {"1", "2"}, "1"},
        {TwipRect(3000, 840, 975, 330), {"0", "1", "2", "3", "4"}, "2"},
        {TwipRect(2760, 1440, 1215, 330),
         {"Ascon", "MB RTU", "JB RTU", "MB ASCII", "JB ASCII", "Pyromat"},
         "Ascon"},
    };
    for (const ListRow& row : lists) {
        QComboBox* list = ListAt(dialog, row.at);
        ASSERT_NE(list, nullptr) << row.preset.toStdString();
        EXPECT_EQ(Entries(*list), row.entries);
        EXPECT_EQ(list->currentText(), row.preset);
        EXPECT_FALSE(list->isEditable());
    }
    bool logo = false;
    for (auto* label : dialog.findChildren<QLabel*>()) {
        logo = logo || label->geometry() == TwipRect(120, 2040, 1620, 615);
    }
    EXPECT_TRUE(logo) << "the maker's logo text at the lower left";
}

TEST(Layout, WhatAControllerSentOrTheOperatorTypedIsShownAsPlainText) {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    main.Ui().RxLbl.SetText("<b>1");
    main.Ui().TxLbl.SetText("<i>A?X  \r");
    int displays = 0;
    for (auto* label : main.centralWidget()->findChildren<QLabel*>()) {
        if (label->frameShape() != QFrame::NoFrame) {
            ++displays;
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
    }
    EXPECT_GE(displays, 3 + 4);  // Send, Receive, Total Error and the four status panels
}

TEST(Layout, MessageBoxesShowTheirTextAndDetailAsPlainText) {
    QtPrompts prompts;
    int plainLabels = 0;
    testing::ModalScript script({[&](QWidget& box) {
        for (auto* label : box.findChildren<QLabel*>()) {
            if (label->text().contains("<")) {
                ++plainLabels;
                EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
            }
        }
        static_cast<QDialog&>(box).accept();
    }});
    prompts.ShowMessage({"The file\n<b>odd</b>.cfg\ncannot be opened.", "Info Box",
                         MessageIcon::Exclamation, MessageButtons::Ok, "<i>No such file</i>"});
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(plainLabels, 2);
}

}  // namespace
}  // namespace tarvel
