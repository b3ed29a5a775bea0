#include "platform/ui/ChangeLabel.h"

namespace platform {

ChangeLabel::ChangeLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void ChangeLabel::setText(const QString& text) {
    if (text == QLabel::text())
        return;
    QLabel::setText(text);
    Q_EMIT Change();
}

}  // namespace platform
