// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The few things the program does with the controls of its windows. Handlers act on these, so
// they run and are checked without a display; each window binds them to its widgets.

namespace tarvel {

// A button or a menu entry.
class Switch {
public:
    virtual ~Switch() = default;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
};

// A text display (a label, a status bar panel).
class TextDisplay {
public:
    virtual ~TextDisplay() = default;
    virtual void SetText(const std::string& text) = 0;
    virtual std::string Text() const = 0;
};

// A drop-down list with fixed entries. Choosing an entry from code with SetIndex only shows it;
// the caller runs the list's handler itself, exactly as the operator's choice does.
class ChoiceList : public Switch {
public:
    virtual void Clear() = 0;
    virtual void AddItem(const std::string& text) = 0;
    virtual int Count() const = 0;
    virtual std::string Item(int index) const = 0;
    // The chosen entry, -1 when none.
    virtual int Index() const = 0;
    virtual void SetIndex(int index) = 0;
};

// A list box of text lines, which is itself the store of its lines.
class ListBox {
public:
    virtual ~ListBox() = default;
    virtual void AddItem(const std::string& text) = 0;
    virtual void RemoveItem(int index) = 0;
    virtual void Clear() = 0;
    virtual int Count() const = 0;
    virtual std::string Item(int index) const = 0;
    // The selected line, -1 when none.
    virtual int SelectedIndex() const = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual bool Visible() const = 0;

    // Every line at once, without a copy, and all lines replaced at once: what a list of a
    // million lines needs. The lines stay valid until the list next changes.
    virtual const std::vector<std::string>& Items() const = 0;
    virtual void ReplaceAll(std::vector<std::string> items) = 0;
    // How many times the lines have changed, for one who must know whether they did meanwhile.
    virtual std::uint64_t Changes() const = 0;
};

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void SetMaximum(int maximum) = 0;
    virtual int Maximum() const = 0;
    // A value above the maximum is shown as the maximum.
    virtual void SetValue(int value) = 0;
    virtual int Value() const = 0;
};

}  // namespace tarvel
