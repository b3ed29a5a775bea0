#pragma once

#include <QLabel>

namespace platform {

// A label that reports when its text really changes. Windows that react to their own display
// (a countdown that acts when it reads zero) hang their steps on Change; setting the text it
// already shows runs nothing, which is what ends the nesting when those steps set the display
// again from inside their own run.
//
// Set the text through this class: QLabel::setText called through a QLabel pointer bypasses
// the comparison and raises no Change.
class ChangeLabel : public QLabel {
    Q_OBJECT
public:
    explicit ChangeLabel(const QString& text, QWidget* parent = nullptr);

    void setText(const QString& text);

Q_SIGNALS:
    // Raised after the new text is in place, so handlers read the new text.
    void Change();
};

}  // namespace platform
