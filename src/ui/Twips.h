// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QSize>

namespace tarvel {

// Window layouts are given in twips (1/1440 inch): 15 twips to a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;

constexpr int Pixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

inline QRect Twips(int left, int top, int width, int height) {
    return QRect(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}

inline QSize TwipsSize(int width, int height) { return QSize(Pixels(width), Pixels(height)); }

}  // namespace tarvel
