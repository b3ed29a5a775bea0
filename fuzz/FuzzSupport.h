#pragma once

#include <cstdio>
#include <cstdlib>

#include <QString>
#include <QtGlobal>

namespace fuzzsupport {

// A warning from Qt while it takes in what the code under test made (a font size it refuses, a
// bad position) is a finding too: stop there, like a crash. Remarks about this machine (its fonts,
// the offscreen platform, the runtime folder) are not about the input.
inline void failOnWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const QString m = message.trimmed();
    if (m.startsWith(QLatin1String("OpenType support missing")) ||
        m.startsWith(QLatin1String("This plugin does not support")) ||
        m.startsWith(QLatin1String("QStandardPaths: wrong permissions")))
        return;
    std::fprintf(stderr, "Qt message: %s\n", qPrintable(m));
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::abort();
}

}  // namespace fuzzsupport
