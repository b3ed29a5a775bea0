#pragma once

#include <QPixmap>
#include <QString>

namespace platform {

// Reads a picture file (BMP, GIF, JPEG and whatever else the image readers know). An empty
// path gives an empty picture, which clears a display. Throws RuntimeError when the file is
// missing or is not a readable picture.
QPixmap LoadPicture(const QString& path);

}  // namespace platform
