// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "lines/LineFilter.h"

namespace tarvel {

// A line that sends nothing: what is given to Output is dropped, as a closed line drops it. At
// the top of the stack of a program that only listens, so that no part of it can put a byte on
// a bus that another master drives. Opening, closing and the settings send nothing and pass.
class ListenOnlyLine final : public LineFilter {
public:
    using LineFilter::LineFilter;
    void Output(std::string_view /*text*/) override {}
};

}  // namespace tarvel
