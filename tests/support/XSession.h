#pragma once

#include <sys/types.h>

#include <QString>
#include <QStringList>

#include "platform/ui/Fonts.h"

namespace testsupport {

// A private X server (Xvfb, on a display number it picks itself) with a real window manager
// (openbox) on it, for the tests that must see what a user sees. Started before the program's
// QApplication exists, since Qt connects to DISPLAY when the application is made; stopped with
// the object. The child processes also go when the test process dies. A screen of more than 96
// dpi is as much larger in pixels, so the windows keep the same room on it.
class XSession {
public:
    explicit XSession(int dpi = 96);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // The X server is up; otherwise why() tells what kept it from starting.
    bool serverStarted() const { return xvfb_ > 0; }
    // The window manager runs and has announced itself.
    bool managerStarted() const { return openbox_ > 0; }
    QString why() const { return why_; }
    QString display() const { return display_; }

private:
    bool startServer();
    bool startManager();

    int dpi_;
    pid_t xvfb_ = -1;
    pid_t openbox_ = -1;
    QString display_;
    QString why_;
};

// Runs an X tool (xprop, wmctrl, xwininfo) against DISPLAY and gives its standard output.
QString runTool(const QString& program, const QStringList& arguments);

}  // namespace testsupport

// The main of a test on the real display: the X session first, then the application with the
// program's fonts. Exit code
// 77 (registered as "skipped") when no X server can be started here.
#define DOMIVOX_DESKTOP_TEST_MAIN(TestClass)                                    \
    int main(int argc, char** argv) {                                           \
        testsupport::XSession session;                                          \
        if (!session.serverStarted()) {                                         \
            fprintf(stderr, "SKIPPED: no X server for the desktop tests: %s\n", \
                    qPrintable(session.why()));                                 \
            return 77;                                                          \
        }                                                                       \
        if (!session.managerStarted()) {                                        \
            fprintf(stderr, "FAIL: %s\n", qPrintable(session.why()));           \
            return 1;                                                           \
        }                                                                       \
        QApplication app(argc, argv);                                           \
        platform::installFonts();                                               \
        TestClass test;                                                         \
        return QTest::qExec(&test, argc, argv);                                 \
    }
