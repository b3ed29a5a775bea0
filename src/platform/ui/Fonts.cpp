#include "platform/ui/Fonts.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QFontDatabase>

namespace platform {

namespace {

struct Chosen {
    bool made = false;
    FontChoice choice;
};

Chosen& chosen() {
    static Chosen c;
    return c;
}

// A family that is installed is taken as it is; fontconfig's aliases never come into it.
QString installedFamily(const QString& wanted) {
    if (!wanted.isEmpty())
        return wanted;
    const QStringList installed = QFontDatabase::families();
    for (const char* family : {"Liberation Sans", "Arimo"})
        if (installed.contains(QLatin1String(family)))
            return QLatin1String(family);
    return QString();
}

// The choice in force; made on first use when nobody installed one.
const FontChoice& current() {
    Chosen& c = chosen();
    if (!c.made) {
        c.choice.family = installedFamily(QString());
        c.made = true;
    }
    return c.choice;
}

}  // namespace

void installFonts(const FontChoice& choice) {
    Chosen& c = chosen();
    c.choice = choice;
    c.choice.family = installedFamily(choice.family);
    c.made = true;
    QApplication::setFont(designFont(QStringLiteral("MS Sans Serif"), 8.25));
}

QString designFamily() {
    return current().family;
}

QFont designFont(const QString& family, double points, bool bold) {
    const FontChoice& choice = current();
    // Without any of the chosen families the design name goes to fontconfig, which picks
    // something; the program still runs.
    QFont f(choice.family.isEmpty() ? family : choice.family);
    if (!choice.family.isEmpty())
        f.setFamilies({choice.family});
    // The design sizes are points at 96 dpi; the layout is in those pixels, so the font is too,
    // whatever the screen's dots per inch (a scaled screen scales both alike).
    const int designPixels = int(std::lround(points * 96.0 / 72.0));
    f.setPixelSize(std::max(1, designPixels - choice.pixelsLess));
    f.setBold(bold);
    f.setHintingPreference(choice.hinting);
    return f;
}

}  // namespace platform
