// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace tarvel {

// Standard error for a program that journald reads: a line written without a syslog priority
// in front ("<4>...") gets `fallback`'s, so that every line of the log has one.
class PrioritizedLines final : public std::streambuf {
public:
    PrioritizedLines(std::ostream& target, int fallback);
    ~PrioritizedLines() override;

protected:
    int_type overflow(int_type character) override;
    int sync() override;

private:
    void Flush();

    std::ostream& target_;
    std::string fallback_;
    std::string line_;
};

}  // namespace tarvel
