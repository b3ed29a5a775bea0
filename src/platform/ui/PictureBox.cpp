#include "platform/ui/PictureBox.h"

namespace platform {

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setScaledContents(false);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
}

void PictureBox::setPicture(const QPixmap& picture) {
    picture_ = picture;
    if (picture.isNull()) {
        clear();
        return;
    }
    setPixmap(picture);
    resize(picture.deviceIndependentSize().toSize());
}

}  // namespace platform
