// What a user sees in a native Wayland session (a compositor of its own, QT_QPA_PLATFORM unset,
// Qt's wayland plug-in installed): the titles the compositor was given, the close request of a
// locked main window, and the size each window opens at where the client cannot place it.

#include <cstdio>

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "../support/WaylandSession.h"
#include "EveryWindow.h"
#include "editors/caption1.h"
#include "editors/settings.h"
#include "lock/password.h"
#include "mainwindow/Form1.h"
#include "platform/app/AppInfo.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowRegistry.h"
#include "remote/internetsettings.h"
#include "schedule/frmTimer.h"
#include "startup/Helpme.h"
#include "startup/disclaim.h"
#include "startup/frmSplash.h"
#include "store/Module1.h"

using desktop::CloseCounter;
using desktop::showByName;
using platform::px;
using platform::WindowRegistry;

namespace {

testsupport::WaylandSession* session = nullptr;

QSize viewSize(const QJsonObject& view) {
    const QJsonObject g = view.value("geometry").toObject();
    return QSize(g.value("width").toInt(), g.value("height").toInt());
}

// The compositor's view of the window: the one of this process with the window's size. Empty
// while the compositor has not mapped it.
QJsonObject viewOf(const QWidget* w) {
    for (const QJsonObject& v : session->windowsOf(QCoreApplication::applicationPid()))
        if (viewSize(v) == w->size())
            return v;
    return QJsonObject();
}

bool waitMapped(QWidget* w) {
    if (!QTest::qWaitForWindowExposed(w, testsupport::allowMs(10000)))
        return false;
    QElapsedTimer t;
    t.start();
    while (viewOf(w).isEmpty()) {
        if (t.elapsed() > testsupport::allowMs(10000)) {
            for (const QJsonObject& v : session->windowsOf(QCoreApplication::applicationPid()))
                qWarning("the compositor has %s", QJsonDocument(v).toJson().constData());
            qWarning("and the window is %dx%d", w->width(), w->height());
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

// The title the compositor holds for the window; sway gives none (null) for an empty one.
QString compositorTitle(const QWidget* w) {
    const QJsonValue name = viewOf(w).value("name");
    return name.isNull() ? QString("") : name.toString();
}

void closeFromCompositor(const QWidget* w) {
    const qint64 id = viewOf(w).value("id").toInteger();
    QVERIFY(id > 0);
    QVERIFY(!session->swaymsg({QStringLiteral("[con_id=%1] kill").arg(id)}).isNull());
}

}  // namespace

class TestWayland : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

private Q_SLOTS:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QString("wayland")); }
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        testsupport::storeFactoryNames();
        Module1::WriteSetting(Setting::disclaimer, "1");
        for (const char* asset : {"serialcable.bmp", "README.RTF"})
            QFile::copy(QStringLiteral(DOMIVOX_SOURCE_DIR "/assets/") + asset,
                        box->appDir() + "/" + asset);
    }
    void cleanup() { box.reset(); }

    void titleIsTheCaptionAsItStands_data() {
        QTest::addColumn<QString>("stored");  // null: nothing stored
        QTest::addColumn<QString>("saved");   // null: no Save Caption
        QTest::addColumn<QString>("title");
        QTest::newRow("nothing stored") << QString() << QString() << "";
        QTest::newRow("stored empty") << "" << QString() << "";
        QTest::newRow("stored placeholder") << "[*]" << QString() << "[*]";
        QTest::newRow("placeholders in text")
            << "My [*] [*][*] Panel" << QString() << "My [*] [*][*] Panel";
        QTest::newRow("stored False") << "False" << QString() << "Domivox";
        QTest::newRow("saved empty") << "Garden"
                                     << ""
                                     << "";
        QTest::newRow("saved placeholder") << ""
                                           << "[*]"
                                           << "[*]";
        QTest::newRow("saved text") << ""
                                    << "Garden"
                                    << "Garden";
        // Longer than one protocol message holds: cut, and the connection (the program) lives.
        QTest::newRow("stored very long")
            << QString(3000, QChar(0x00e9)) << QString() << QString(1200, QChar(0x00e9));
    }
    void titleIsTheCaptionAsItStands() {
        QFETCH(QString, stored);
        QFETCH(QString, saved);
        QFETCH(QString, title);
        if (!stored.isNull())
            Module1::WriteSetting(Setting::caption, stored);
        Form1* main = WindowRegistry::show<Form1>();
        QVERIFY(waitMapped(main));
        if (!saved.isNull()) {
            caption1* editor = WindowRegistry::show<caption1>();
            QVERIFY(waitMapped(editor));
            editor->Text2()->setText(saved);
            QTest::mouseClick(editor->Command2(), Qt::LeftButton);
        }
        QTRY_COMPARE(compositorTitle(main), title);
        // It stays so once the window has settled (Qt writes its own title on a later show too).
        QTest::qWait(testsupport::allowMs(200));
        QCOMPARE(compositorTitle(main), title);
        QCOMPARE(main->caption().left(1200), title);
    }

    void windowsOpenAtTheirSizes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("clientTwips");
        QTest::newRow("main") << "Form1" << QSize(10350, 6000);
        QTest::newRow("control names") << "settings" << QSize(5400, 4425);
        QTest::newRow("caption editor") << "caption1" << QSize(6525, 1845);
        QTest::newRow("timer") << "frmTimer" << QSize(3645, 3465);
        QTest::newRow("lock") << "password" << QSize(4695, 3495);
        QTest::newRow("internet") << "internetsettings" << QSize(11400, 7200);
        QTest::newRow("help") << "Helpme" << QSize(10305, 7440);
        QTest::newRow("disclaimer") << "disclaim" << QSize(8415, 3900);
        QTest::newRow("splash") << "frmSplash" << QSize(7380, 4245);
    }
    void windowsOpenAtTheirSizes() {
        QFETCH(QString, name);
        QFETCH(QSize, clientTwips);
        Module1::WriteSetting(Setting::caption, "Larry's Program");
        Module1::WriteSetting(Setting::picture, "False");
        platform::Window* w = showByName(name);
        QVERIFY(w);
        if (auto* splash = qobject_cast<frmSplash*>(w))
            splash->Timer2()->setEnabled(false);  // it stays up while it is looked at
        QVERIFY(waitMapped(w));
        const QList<QJsonObject> views = session->windowsOf(QCoreApplication::applicationPid());
        QCOMPARE(views.size(), 1);
        // The menu bar, the design's client area and a border the window draws itself.
        const int menu = w->menuBar()->isVisibleTo(w) ? w->menuBar()->height() : 0;
        const QMargins m = w->contentsMargins();
        const QSize expected(px(clientTwips.width()) + m.left() + m.right(),
                             px(clientTwips.height()) + menu + m.top() + m.bottom());
        QCOMPARE(viewSize(views.first()), expected);
        QCOMPARE(views.first().value("type").toString(), QString("floating_con"));
    }

    void closeOfTheMainWindow_data() {
        QTest::addColumn<bool>("locked");
        QTest::newRow("unlocked") << false;
        QTest::newRow("locked") << true;
    }
    void closeOfTheMainWindow() {
        QFETCH(bool, locked);
        Form1* main = WindowRegistry::show<Form1>();
        QVERIFY(waitMapped(main));
        main->findChild<QAction*>("lock")->trigger();
        password* lock = WindowRegistry::find<password>();
        QVERIFY(lock);
        QTRY_COMPARE(lock->Text2()->text(), QString());
        if (locked)
            QTest::mouseClick(lock->Command1(), Qt::LeftButton);
        QCOMPARE(main->isEnabled(), !locked);

        CloseCounter closes;
        main->installEventFilter(&closes);
        closeFromCompositor(main);
        if (!locked) {
            QTRY_VERIFY(!WindowRegistry::isLoaded<Form1>());
            return;
        }
        QTRY_COMPARE(closes.count, 1);
        QCoreApplication::processEvents();
        QCOMPARE(WindowRegistry::find<Form1>(), main);
        QVERIFY(main->isVisible());
        QVERIFY(main->MSComm1().PortOpen());
        QVERIFY(!viewOf(main).isEmpty());

        QTest::mouseClick(lock->Command2(), Qt::LeftButton);
        QVERIFY(main->isEnabled());
        closeFromCompositor(main);
        QTRY_VERIFY(!WindowRegistry::isLoaded<Form1>());
    }
};

int main(int argc, char** argv) {
    const QString plugin =
        QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so";
    if (!QFile::exists(plugin)) {
        fprintf(stderr, "SKIPPED: Qt's wayland plug-in (qt6-wayland) is not installed\n");
        return 77;
    }
    testsupport::WaylandSession wayland;
    if (!wayland.started()) {
        fprintf(stderr, "SKIPPED: no Wayland compositor for the desktop tests: %s\n",
                qPrintable(wayland.why()));
        return 77;
    }
    session = &wayland;
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::App::Title());
    TestWayland test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wayland.moc"
