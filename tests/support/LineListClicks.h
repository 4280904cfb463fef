// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListView>

#include "ui/LineList.h"

namespace tarvel::testing {

// The operator clicks line `row` of a record list.
inline void Select(LineList& list, int row) {
    QListView& view = list.View();
    view.setCurrentIndex(view.model()->index(row, 0));
}

}  // namespace tarvel::testing
