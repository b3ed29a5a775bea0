#pragma once

#include <QLabel>
#include <QPixmap>

namespace platform {

// A picture display that never scales: setting a picture makes the display take the picture's
// natural size; a display given a fixed size shows the picture from its top-left corner and
// cuts off the rest. Where it has no picture it is transparent.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent);

    void setPicture(const QPixmap& picture);
    QPixmap picture() const { return picture_; }
    bool hasPicture() const { return !picture_.isNull(); }

private:
    QPixmap picture_;
};

}  // namespace platform
