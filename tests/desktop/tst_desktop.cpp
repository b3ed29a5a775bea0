// What a user sees on a real X server with a window manager: titles, frames, sizes, the close
// box, and a screenshot of every window.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QtTest>

#include "../support/TestSupport.h"
#include "../support/XSession.h"
#include "EveryWindow.h"
#include "editors/caption1.h"
#include "editors/settings.h"
#include "lock/password.h"
#include "mainwindow/Form1.h"
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
using testsupport::runTool;

namespace {

QString hexId(const QWidget* w) {
    return QStringLiteral("0x%1").arg(w->winId(), 8, 16, QLatin1Char('0'));
}

// The title the window manager lists for the window; null while it does not manage it.
QString managedTitle(const QWidget* w) {
    static const QRegularExpression row(QStringLiteral("^(0x[0-9a-f]+) +-?\\d+ \\S+ ?(.*)$"));
    const QStringList lines = runTool("wmctrl", {"-l"}).split('\n');
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = row.match(line);
        if (m.hasMatch() && m.captured(1).toULongLong(nullptr, 16) == w->winId())
            return m.captured(2).isNull() ? QString("") : m.captured(2);
    }
    return QString();
}

// A property of the client window as xprop prints it after "NAME = ".
QString xProperty(const QWidget* w, const char* name) {
    const QString out = runTool("xprop", {"-id", hexId(w), "-notype", name}).section('\n', 0, 0);
    const qsizetype eq = out.indexOf(QLatin1String(" = "));
    return eq < 0 ? QString() : out.mid(eq + 3);
}

// Left, right, top, bottom border the window manager put around the window.
QList<int> frameExtents(const QWidget* w) {
    QList<int> e;
    for (const QString& n : xProperty(w, "_NET_FRAME_EXTENTS").split(", "))
        e << n.toInt();
    return e.size() == 4 ? e : QList<int>();
}

// The client window's place on the screen as the X server has it.
QRect xGeometry(const QWidget* w) {
    const QString out = runTool("xwininfo", {"-id", hexId(w)});
    auto field = [&out](const char* label) {
        const QRegularExpression re(QLatin1String(label) + QLatin1String(":\\s+(-?\\d+)"));
        return re.match(out).captured(1).toInt();
    };
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                 field("Height"));
}

// Waits until the window is drawn and framed, as a user would first see it.
bool waitManaged(QWidget* w) {
    if (!QTest::qWaitForWindowExposed(w, testsupport::allowMs(10000)))
        return false;
    QElapsedTimer t;
    t.start();
    while (managedTitle(w).isNull() || frameExtents(w).isEmpty()) {
        if (t.elapsed() > testsupport::allowMs(10000))
            return false;
        QTest::qWait(20);
    }
    // Give the window manager a moment to paint the frame it just put up.
    QTest::qWait(testsupport::allowMs(300));
    return true;
}

// The window with its frame, from the screen, into <build>/screenshots/<name>.png.
bool saveScreenshot(QWidget* w, const QString& name) {
    const QRect client = xGeometry(w);
    const QList<int> e = frameExtents(w);
    const QRect frame = client.adjusted(-e[0], -e[2], e[1], e[3]);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
        0, frame.x(), frame.y(), frame.width(), frame.height());
    QDir().mkpath(DOMIVOX_SCREENSHOT_DIR);
    return shot.save(QStringLiteral(DOMIVOX_SCREENSHOT_DIR "/%1.png").arg(name));
}

}  // namespace

class TestDesktop : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        testsupport::storeFactoryNames();
        Module1::WriteSetting(Setting::disclaimer, "1");
        for (const char* asset : {"serialcable.bmp", "README.RTF"})
            QFile::copy(QStringLiteral(DOMIVOX_SOURCE_DIR "/assets/") + asset,
                        box->appDir() + "/" + asset);
    }
    void cleanup() { box.reset(); }

    void titleBarShowsTheCaptionAsItStands_data() {
        QTest::addColumn<QString>("stored");  // null: nothing stored
        QTest::addColumn<QString>("saved");   // null: no Save Caption
        QTest::addColumn<QString>("title");
        QTest::newRow("nothing stored") << QString() << QString() << "";
        QTest::newRow("stored empty") << "" << QString() << "";
        QTest::newRow("stored placeholder") << "[*]" << QString() << "[*]";
        QTest::newRow("placeholders in text")
            << "My [*] [*][*] Panel" << QString() << "My [*] [*][*] Panel";
        QTest::newRow("stored False") << "False" << QString() << "Domivox";
        QTest::newRow("saved empty") << "Larry's Program"
                                     << ""
                                     << "";
        QTest::newRow("saved placeholder") << ""
                                           << "[*]"
                                           << "[*]";
        QTest::newRow("saved text") << ""
                                    << "Garden"
                                    << "Garden";
    }
    void titleBarShowsTheCaptionAsItStands() {
        QFETCH(QString, stored);
        QFETCH(QString, saved);
        QFETCH(QString, title);
        if (!stored.isNull())
            Module1::WriteSetting(Setting::caption, stored);
        Form1* main = WindowRegistry::show<Form1>();
        QVERIFY(waitManaged(main));
        if (!saved.isNull()) {
            caption1* editor = WindowRegistry::show<caption1>();
            editor->Text2()->setText(saved);
            QTest::mouseClick(editor->Command2(), Qt::LeftButton);
        }
        QTRY_COMPARE(managedTitle(main), title);
        const QString quoted = title.isEmpty() ? "" : '"' + title + '"';  // as xprop shows it
        QCOMPARE(xProperty(main, "_NET_WM_NAME"), quoted);
        QCOMPARE(xProperty(main, "WM_NAME"), quoted);
        // What openbox draws: the name itself, or its own label for a window that has none.
        QCOMPARE(xProperty(main, "_NET_WM_VISIBLE_NAME"),
                 title.isEmpty() ? QString("\"Unnamed Window\"") : quoted);
        QCOMPARE(main->caption(), title);
        if (title.isEmpty())
            QVERIFY(saveScreenshot(main, "Form1-empty-title"));
    }

    void everyWindowAsAUserSeesIt_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QSize>("clientTwips");
        QTest::addColumn<bool>("framed");
        QTest::newRow("main") << "Form1"
                              << "Larry's Program" << QSize(10350, 6000) << true;
        QTest::newRow("control names") << "settings"
                                       << "Settings" << QSize(5400, 4425) << true;
        QTest::newRow("caption editor") << "caption1"
                                        << "Edit Details" << QSize(6525, 1845) << true;
        QTest::newRow("timer") << "frmTimer"
                               << "Timer Function" << QSize(3645, 3465) << true;
        QTest::newRow("lock") << "password"
                              << "Admin Area" << QSize(4695, 3495) << true;
        QTest::newRow("internet") << "internetsettings"
                                  << "Internet Settings" << QSize(11400, 7200) << true;
        QTest::newRow("help") << "Helpme"
                              << "HELP IS HERE!" << QSize(10305, 7440) << true;
        QTest::newRow("disclaimer") << "disclaim"
                                    << "Disclaimer" << QSize(8415, 3900) << true;
        QTest::newRow("splash") << "frmSplash"
                                << "" << QSize(7380, 4245) << false;
    }
    void everyWindowAsAUserSeesIt() {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QFETCH(QSize, clientTwips);
        QFETCH(bool, framed);
        Module1::WriteSetting(Setting::caption, "Larry's Program");
        Module1::WriteSetting(Setting::picture, "False");
        platform::Window* w = showByName(name);
        QVERIFY(w);
        if (auto* splash = qobject_cast<frmSplash*>(w))
            splash->Timer2()->setEnabled(false);  // it stays up while it is looked at
        QVERIFY(waitManaged(w));

        QCOMPARE(managedTitle(w), title);
        const QList<int> e = frameExtents(w);
        QCOMPARE(e[2] > 0, framed);  // a title bar
        if (!framed)
            QCOMPARE(e, QList<int>({0, 0, 0, 0}));

        // The X window is the menu bar, the design's client area and a border the window draws
        // itself (the splash's), nothing more.
        const QRect x = xGeometry(w);
        const int menu = w->menuBar()->isVisibleTo(w) ? w->menuBar()->height() : 0;
        const QMargins m = w->contentsMargins();
        QCOMPARE(x.size(), QSize(px(clientTwips.width()) + m.left() + m.right(),
                                 px(clientTwips.height()) + menu + m.top() + m.bottom()));
        if (!framed) {
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            QVERIFY2(qAbs(x.center().x() - screen.center().x()) <= 1 &&
                         qAbs(x.center().y() - screen.center().y()) <= 1,
                     qPrintable(QStringLiteral("at %1,%2").arg(x.x()).arg(x.y())));
        }
        if (auto* internet = qobject_cast<internetsettings*>(w)) {
            // The instructions wrap at word boundaries inside the box.
            QPlainTextEdit* text3 = internet->Text3();
            QVERIFY(!text3->horizontalScrollBar()->isVisible());
            for (QTextBlock b = text3->document()->begin(); b.isValid(); b = b.next())
                for (int i = 0; i < b.layout()->lineCount(); ++i)
                    QVERIFY(b.layout()->lineAt(i).naturalTextWidth() <= text3->viewport()->width());
        }
        QVERIFY(saveScreenshot(w, name));
    }

    void closeBoxOfTheMainWindow_data() {
        QTest::addColumn<bool>("locked");
        QTest::newRow("unlocked") << false;
        QTest::newRow("locked") << true;
    }
    void closeBoxOfTheMainWindow() {
        QFETCH(bool, locked);
        Form1* main = WindowRegistry::show<Form1>();
        QVERIFY(waitManaged(main));
        main->findChild<QAction*>("lock")->trigger();
        password* lock = WindowRegistry::find<password>();
        QVERIFY(lock);
        QTRY_COMPARE(lock->Text2()->text(), QString());  // it has read the empty password
        if (locked)
            QTest::mouseClick(lock->Command1(), Qt::LeftButton);
        QCOMPARE(main->isEnabled(), !locked);

        CloseCounter closes;
        main->installEventFilter(&closes);
        runTool("wmctrl", {"-i", "-c", hexId(main)});
        if (!locked) {
            QTRY_VERIFY(!WindowRegistry::isLoaded<Form1>());
            return;
        }
        QTRY_COMPARE(closes.count, 1);
        QCoreApplication::processEvents();
        QCOMPARE(WindowRegistry::find<Form1>(), main);
        QVERIFY(main->isVisible());
        QVERIFY(main->MSComm1().PortOpen());
        QVERIFY(!managedTitle(main).isNull());

        // Unlocked again, the same close box closes it.
        QTest::mouseClick(lock->Command2(), Qt::LeftButton);
        QVERIFY(main->isEnabled());
        runTool("wmctrl", {"-i", "-c", hexId(main)});
        QTRY_VERIFY(!WindowRegistry::isLoaded<Form1>());
    }
};

DOMIVOX_DESKTOP_TEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
