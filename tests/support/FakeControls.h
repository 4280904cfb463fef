// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Controls.h"

// Controls without widgets, for handlers checked without a display.

namespace tarvel::testing {

class FakeSwitch final : public Switch {
public:
    bool enabled = true;
    void SetEnabled(bool value) override { enabled = value; }
    bool Enabled() const override { return enabled; }
};

class FakeText final : public TextDisplay {
public:
    std::string text;
    std::vector<std::string> history;  // every text set, in order
    const Clock* clock = nullptr;      // when set, `times` says when each text was set
    std::vector<Instant> times;
    void SetText(const std::string& value) override {
        text = value;
        history.push_back(value);
        if (clock != nullptr) {
            times.push_back(clock->Now());
        }
    }
    std::string Text() const override { return text; }
};

class FakeChoiceList final : public ChoiceList {
public:
    std::vector<std::string> items;
    int index = -1;
    bool enabled = true;
    void SetEnabled(bool value) override { enabled = value; }
    bool Enabled() const override { return enabled; }
    void Clear() override {
        items.clear();
        index = -1;
    }
    void AddItem(const std::string& text) override { items.push_back(text); }
    int Count() const override { return static_cast<int>(items.size()); }
    std::string Item(int at) const override { return items.at(at); }
    int Index() const override { return index; }
    void SetIndex(int at) override { index = (at >= 0 && at < Count()) ? at : -1; }
};

class FakeListBox final : public ListBox {
public:
    std::vector<std::string> items;
    int selected = -1;
    bool visible = true;
    std::uint64_t changes = 0;
    void AddItem(const std::string& text) override {
        items.push_back(text);
        ++changes;
    }
    void RemoveItem(int at) override {
        if (at >= 0 && at < Count()) {
            items.erase(items.begin() + at);
            ++changes;
        }
    }
    void Clear() override {
        items.clear();
        selected = -1;
        ++changes;
    }
    std::uint64_t Changes() const override { return changes; }
    int Count() const override { return static_cast<int>(items.size()); }
    std::string Item(int at) const override { return items.at(at); }
    int SelectedIndex() const override { return selected < Count() ? selected : -1; }
    void SetVisible(bool value) override { visible = value; }
    bool Visible() const override { return visible; }
    const std::vector<std::string>& Items() const override { return items; }
    void ReplaceAll(std::vector<std::string> lines) override {
        items = std::move(lines);
        selected = -1;
        ++changes;
    }
};

class FakeProgress final : public ProgressDisplay {
public:
    int maximum = 100;
    int value = -1;
    void SetMaximum(int m) override { maximum = std::max(m, 1); }
    int Maximum() const override { return maximum; }
    void SetValue(int v) override { value = std::clamp(v, 0, maximum); }
    int Value() const override { return value; }
};

}  // namespace tarvel::testing
