// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/QtControls.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace tarvel {

QString ToQt(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQt(const QString& text) { return text.toLatin1().toStdString(); }

void WidgetSwitch::SetEnabled(bool enabled) { widget_->setEnabled(enabled); }
bool WidgetSwitch::Enabled() const { return widget_->isEnabled(); }

void ActionSwitch::SetEnabled(bool enabled) { action_->setEnabled(enabled); }
bool ActionSwitch::Enabled() const { return action_->isEnabled(); }

void LabelText::SetText(const std::string& text) { label_->setText(ToQt(text)); }
std::string LabelText::Text() const { return FromQt(label_->text()); }

void ComboChoiceList::SetEnabled(bool enabled) { combo_->setEnabled(enabled); }
bool ComboChoiceList::Enabled() const { return combo_->isEnabled(); }
void ComboChoiceList::Clear() { combo_->clear(); }
void ComboChoiceList::AddItem(const std::string& text) { combo_->addItem(ToQt(text)); }
int ComboChoiceList::Count() const { return combo_->count(); }
std::string ComboChoiceList::Item(int index) const { return FromQt(combo_->itemText(index)); }
int ComboChoiceList::Index() const { return combo_->currentIndex(); }
void ComboChoiceList::SetIndex(int index) { combo_->setCurrentIndex(index); }

void BarProgress::SetMaximum(int maximum) {
    // A maximum of 0 would turn the bar into a busy indicator.
    bar_->setMaximum(std::max(maximum, 1));
}
int BarProgress::Maximum() const { return bar_->maximum(); }
void BarProgress::SetValue(int value) { bar_->setValue(std::clamp(value, 0, bar_->maximum())); }
int BarProgress::Value() const { return bar_->value(); }

}  // namespace tarvel
