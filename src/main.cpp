#include <QApplication>

#include "bus/PanelService.h"
#include "mainwindow/Form1.h"
#include "platform/app/AppInfo.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/WindowRegistry.h"
#include "startup/frmSplash.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::App::Title());
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(platform::App::Major())
                                            .arg(platform::App::Minor())
                                            .arg(platform::App::Revision()));
    QGuiApplication::setDesktopFileName(platform::App::DesktopName());
    QApplication::setWindowIcon(platform::App::Icon());
    // Windows decide when the program ends: the last visible one closing, or Exit.
    QApplication::setQuitOnLastWindowClosed(false);
    platform::WindowRegistry::setEndWhenLastWindowCloses(true);
    // One panel per session: a second start brings the first one's main window forward
    // instead of failing on the port the first one holds.
    if (bus::PanelService::start(&app) == bus::PanelService::Start::AnotherPanelRaised)
        return 0;
    platform::installFonts();

    platform::WindowRegistry::show<startup::frmSplash>();
    if (platform::App::HasEnded())
        return 0;
    return QApplication::exec();
}
