#include "platform/ui/Picture.h"

#include <QFileInfo>
#include <QImageReader>

#include "platform/Errors.h"

namespace platform {

QPixmap LoadPicture(const QString& path) {
    if (path.isEmpty())
        return QPixmap();
    if (!QFileInfo(path).isFile())
        throw RuntimeError(QStringLiteral("File not found: %1").arg(path));
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QImage image = reader.read();
    if (image.isNull())
        throw RuntimeError(
            QStringLiteral("Invalid picture: %1 (%2)").arg(path, reader.errorString()));
    return QPixmap::fromImage(image);
}

}  // namespace platform
