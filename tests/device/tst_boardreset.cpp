#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "../support/TestSupport.h"
#include "device/BoardLink.h"
#include "device/DeviceAccount.h"
#include "device/MainPanel.h"
#include "mainwindow/Form1.h"
#include "platform/ui/WindowRegistry.h"
#include "schedule/frmTimer.h"

using mainwindow::Form1;
using platform::WindowRegistry;
using testsupport::ResettingBoard;

// A board that restarts whenever DTR rises, behind a port name that an adapter pulled out and
// plugged back in keeps: every letter the panel reports sent must reach the running sketch.
class TestBoardReset : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    QTemporaryDir dev;
    std::unique_ptr<ResettingBoard> board;
    QByteArray taken, lost;  // of the boards already pulled out
    int restarts = 0;
    QList<bool> statusWhileRestarting;
    std::unique_ptr<QObject> row;  // what is left of a row goes with it

    Form1* watched(Form1* f) {
        if (f && !f->property("watched").toBool()) {
            f->setProperty("watched", true);
            connect(f, &Form1::statusShown, this,
                    [this] { statusWhileRestarting << (board && board->restarting()); });
        }
        return f;
    }
    void plugIn(int bootWindowMs) {
        board = std::make_unique<ResettingBoard>(bootWindowMs);
        QFile::remove(dev.path() + "/ttyUSB0");
        QVERIFY(QFile::link(board->path(), dev.path() + "/ttyUSB0"));
    }
    void pullOut() {
        board->pullOut();
        taken += board->taken();
        lost += board->lost();
        restarts += board->restarts();
        board.reset();
    }
    void countdown() {
        auto* t = WindowRegistry::show<schedule::frmTimer>();
        for (int k = 1; k <= 5; ++k)
            t->Text(k)->setText(k % 2 ? "1" : "0");
        t->Text12()->setText("1");  // applied at once
        t->cmdStart()->click();
    }
    // While a letter is likely waiting: a click on Command10 or Command6, or the main window
    // closed.
    void later(char step) {
        QTimer::singleShot(150, row.get(), [step] {
            if (Form1* f = WindowRegistry::find<Form1>())
                step == 'K' ? f->Unload() : f->Command(step == 'C' ? 10 : 6)->click();
        });
    }

    void play(const QString& steps, int boardMs) {
        for (const QChar step : steps) {
            const char c = step.toLatin1();
            if (c == 'S')
                watched(WindowRegistry::show<Form1>());
            else if (c == 'W')
                QTest::qWait(boardMs + 200);
            else if (Form1* f = WindowRegistry::find<Form1>(); c == 'X' && f)
                f->Unload(), testsupport::flushDeletes();
            else if (c >= '0' && c <= '9' && f)
                f->Command(c == '0' ? 10 : c - '0')->click();
            else if (c == 'C' || c == 'B' || c == 'K')
                later(c);
            else if (c == 'P')
                countdown();
            else if (c == 'U')
                pullOut();
            else if (c == 'R')
                plugIn(boardMs);
        }
    }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        row = std::make_unique<QObject>();
        testsupport::storeFactoryNames();
        qputenv("DOMIVOX_COM1", (dev.path() + "/ttyUSB0").toLocal8Bit());
        device::installMainPanel(
            {[] { return static_cast<device::MainPanel*>(WindowRegistry::find<Form1>()); },
             [this] {
                 return static_cast<device::MainPanel*>(watched(WindowRegistry::load<Form1>()));
             }});
    }
    void cleanup() {
        row.reset();
        box.reset();
        board.reset();
        taken.clear();
        lost.clear();
        restarts = 0;
        statusWhileRestarting.clear();
        Form1::install();
        device::BoardLink::setBootWindowForTesting(-1);
    }

    // Steps: S show the main window, W wait until the board has started, X close the main window, a
    // digit clicks that button (0 for 10), C clicks Command10 and K closes the main window while a
    // letter is likely waiting, P a one-second countdown applying 1 0 1 0 1, U pull the adapter
    // out, R plug it back in.
    void noLetterIsLostToARestart_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("boardMs");
        QTest::addColumn<int>("panelMs");  // -1: the product's bound
        QTest::addColumn<QByteArray>("arrives");
        QTest::addColumn<int>("restartsSeen");
        QTest::newRow("start-up") << "S1" << 300 << 400 << QByteArray("a") << 1;
        QTest::newRow("main window loaded again") << "S1XS3" << 300 << 400 << QByteArray("ae") << 1;
        QTest::newRow("countdown, main window closed")
            << "S1XP" << 300 << 400 << QByteArray("aadehi") << 1;
        QTest::newRow("adapter plugged back") << "S1U2R3" << 300 << 400 << QByteArray("ae") << 2;
        QTest::newRow("a click queues behind the countdown's first letter")
            << "S1XURCP" << 300 << 400 << QByteArray("aajdehi") << 2;
        QTest::newRow("main window closed while a click waits")
            << "SK1" << 300 << 400 << QByteArray() << 1;
        QTest::newRow("countdown, main window closed, old bootloader")
            << "SWXP" << 2000 << -1 << QByteArray("adehi") << 1;
    }
    void noLetterIsLostToARestart() {
        QFETCH(QString, steps);
        QFETCH(int, boardMs);
        QFETCH(int, panelMs);
        QFETCH(QByteArray, arrives);
        QFETCH(int, restartsSeen);
        device::BoardLink::setBootWindowForTesting(panelMs);
        plugIn(boardMs);
        QEventLoop running;  // clicks and timers run as under the program's own loop
        QTimer::singleShot(0, &running, [&] {
            play(steps, boardMs);
            running.quit();
        });
        running.exec();
        board->waitTaken(arrives.size() - taken.size(), boardMs + 5000);
        QTest::qWait(100);  // nothing more
        pullOut();
        qInfo("The board took \"%s\", swallowed \"%s\" and restarted %d time(s)", taken.constData(),
              lost.constData(), restarts);
        QCOMPARE(taken, arrives);
        QCOMPARE(lost, QByteArray());
        QCOMPARE(restarts, restartsSeen);
        QCOMPARE(statusWhileRestarting, QList<bool>(arrives.size(), false));
    }

    // The click waits inside the countdown's wait and returns first, though its letter for the
    // same device went out second: the board and the status line must end on the click's.
    void aLetterOvertakenOnTheLineDoesNotShowAsTheState() {
        device::BoardLink::setBootWindowForTesting(400);
        plugIn(300);
        QEventLoop running;
        QTimer::singleShot(0, &running, [&] {
            play("S1XBP", 300);
            running.quit();
        });
        running.exec();
        board->waitTaken(7, 5000);
        QCOMPARE(board->taken(), QByteArray("aabdehi"));
        QVERIFY(WindowRegistry::find<Form1>()->Label(1)->text().endsWith("IS CURRENTLY OFF"));
        QCOMPARE(device::toString(device::DeviceAccount::instance().state(1)), "off");
    }
};

QTEST_MAIN(TestBoardReset)
#include "tst_boardreset.moc"
