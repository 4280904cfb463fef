// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "platform/Controls.h"

class QAction;
class QComboBox;
class QLabel;
class QProgressBar;
class QWidget;

// The controls of the platform layer bound to Qt widgets.

namespace tarvel {

class WidgetSwitch final : public Switch {
public:
    explicit WidgetSwitch(QWidget* widget) : widget_(widget) {}
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;

private:
    QWidget* widget_;
};

class ActionSwitch final : public Switch {
public:
    explicit ActionSwitch(QAction* action) : action_(action) {}
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;

private:
    QAction* action_;
};

class LabelText final : public TextDisplay {
public:
    explicit LabelText(QLabel* label) : label_(label) {}
    void SetText(const std::string& text) override;
    std::string Text() const override;

private:
    QLabel* label_;
};

class ComboChoiceList final : public ChoiceList {
public:
    explicit ComboChoiceList(QComboBox* combo) : combo_(combo) {}
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;
    void Clear() override;
    void AddItem(const std::string& text) override;
    int Count() const override;
    std::string Item(int index) const override;
    int Index() const override;
    void SetIndex(int index) override;

private:
    QComboBox* combo_;
};

class BarProgress final : public ProgressDisplay {
public:
    explicit BarProgress(QProgressBar* bar) : bar_(bar) {}
    void SetMaximum(int maximum) override;
    int Maximum() const override;
    void SetValue(int value) override;
    int Value() const override;

private:
    QProgressBar* bar_;
};

// Texts go to the operator as Latin-1: one byte of a text is one character, as on the line.
QString ToQt(const std::string& text);
std::string FromQt(const QString& text);

}  // namespace tarvel
