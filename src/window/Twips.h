#pragma once

#include <QRect>

// Window geometry is designed in twips; the screen is laid out at 15 twips a pixel (96 dots per
// inch). Every designed value is a whole number of pixels.
namespace Twips {

inline constexpr int kPerPixel = 15;

constexpr int toPixels(int twips) {
    return twips / kPerPixel;
}

constexpr QRect rect(int left, int top, int width, int height) {
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

} // namespace Twips
