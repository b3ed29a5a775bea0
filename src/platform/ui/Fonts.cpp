#include "platform/ui/Fonts.h"

#include <QApplication>

namespace platform {

void installFonts() {
    const QStringList sans = {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                              QStringLiteral("DejaVu Sans")};
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), sans);
    QFont::insertSubstitutions(QStringLiteral("Arial"), sans);
    QApplication::setFont(designFont(QStringLiteral("MS Sans Serif"), 8.25));
}

QFont designFont(const QString& family, double points, bool bold) {
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

}  // namespace platform
