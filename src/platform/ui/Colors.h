#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

// Colours are kept as 0x00BBGGRR values, the layout stored colour values use throughout.
namespace platform {

constexpr int kColorGreen = 65280;  // ON
constexpr int kColorRed = 255;      // OFF
constexpr int kColorSilver = 0xC0C0C0;
constexpr int kColorBlack = 0;

inline QColor toQColor(int bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

inline int fromQColor(const QColor& c) {
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

inline void setBackColor(QWidget* w, int bgr) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, toQColor(bgr));
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

inline int backColor(const QWidget* w) {
    return fromQColor(w->palette().color(QPalette::Window));
}

inline void setForeColor(QWidget* w, int bgr) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, toQColor(bgr));
    p.setColor(QPalette::Text, toQColor(bgr));
    w->setPalette(p);
}

inline int foreColor(const QWidget* w) {
    return fromQColor(w->palette().color(QPalette::WindowText));
}

}  // namespace platform
