// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/LogPriorities.h"

namespace tarvel {

PrioritizedLines::PrioritizedLines(std::ostream& target, int fallback)
    : target_(target), fallback_("<" + std::to_string(fallback) + ">") {}

PrioritizedLines::~PrioritizedLines() { Flush(); }

PrioritizedLines::int_type PrioritizedLines::overflow(int_type character) {
    if (traits_type::eq_int_type(character, traits_type::eof())) {
        return traits_type::not_eof(character);
    }
    line_ += traits_type::to_char_type(character);
    if (line_.back() == '\n') {
        Flush();
    }
    return character;
}

int PrioritizedLines::sync() {
    target_.flush();
    return 0;
}

void PrioritizedLines::Flush() {
    if (line_.empty()) {
        return;
    }
    // "<N>" with a digit 0 to 7: already marked.
    const bool marked = line_.size() >= 3 && line_[0] == '<' && line_[1] >= '0' &&
                        line_[1] <= '7' && line_[2] == '>';
    target_ << (marked ? "" : fallback_) << line_;
    target_.flush();
    line_.clear();
}

}  // namespace tarvel
