// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QSize>
#include <algorithm>

namespace tarvel {

// The share of its screen's free area a window takes at most when it opens: the rest leaves the
// panels and a little of what lies behind in sight.
inline constexpr double MostOfScreen = 0.9;

// The size a window opens at: the size it would like, but no more than MostOfScreen of the area
// free on its screen in either direction (a laptop's 1366 x 768, or any screen at scale 2).
// Nothing is kept between starts: each start fits the screen it finds.
inline QSize FittingSize(const QSize& preferred, const QSize& available) {
    return {std::min(preferred.width(), static_cast<int>(available.width() * MostOfScreen)),
            std::min(preferred.height(), static_cast<int>(available.height() * MostOfScreen))};
}

// Where a window of `size` opens on the free area `available`: where it is if it fits there,
// otherwise in the middle of the area.
inline QPoint FittingPlace(const QRect& now, const QSize& size, const QRect& available) {
    const QRect there(now.topLeft(), size);
    if (available.contains(there)) {
        return there.topLeft();
    }
    return available.topLeft() +
           QPoint((available.width() - size.width()) / 2, (available.height() - size.height()) / 2);
}

}  // namespace tarvel
