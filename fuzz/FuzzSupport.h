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

// The offscreen platform, Qt's warnings as findings, and the application a target needs. The
// application is never destroyed: a window may live as long as the process, and Qt cannot take
// its application away from under a window at exit.
template <class Application>
void startQt(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_RUNTIME_DIR", "/tmp", 0);
    new Application(*argc, *argv);
    qInstallMessageHandler(failOnWarning);
}

}  // namespace fuzzsupport
