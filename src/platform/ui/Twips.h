#pragma once

#include <QRect>
#include <QWidget>

// Window layouts are designed in twips: 1/1440 inch, 15 of them to a pixel at 96 dpi.
namespace platform {

constexpr int kTwipsPerPixel = 15;

constexpr int px(int twips) {
    // Round half away from zero so that 7 twips and -7 twips stay symmetric.
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}

constexpr int twips(int pixels) {
    return pixels * kTwipsPerPixel;
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

inline void placeTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(twipsRect(left, top, width, height));
}

}  // namespace platform
