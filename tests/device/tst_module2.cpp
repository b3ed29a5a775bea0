#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "device/Module2.h"
#include "mainwindow/Form1.h"
#include "platform/Errors.h"
#include "platform/clock/Clock.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/Colors.h"
#include "platform/ui/WindowRegistry.h"
#include "store/Module1.h"

using mainwindow::Form1;

using platform::WindowRegistry;

class TestModule2 : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        testsupport::storeFactoryNames();
    }
    void cleanup() { box.reset(); }

    void pauseWaitsAtLeastItsTimeWhileHandlingEvents() {
        bool handled = false;
        QTimer::singleShot(50, qApp, [&] { handled = true; });
        const double t0 = platform::monotonicSeconds();
        Module2::Pause(0.25);
        QVERIFY(platform::monotonicSeconds() - t0 >= 0.25);
        QVERIFY(handled);
    }

    void pauseOfNothingReturnsAtOnce_data() {
        QTest::addColumn<double>("seconds");
        QTest::newRow("zero") << 0.0;
        QTest::newRow("negative") << -5.0;
        QTest::newRow("not a number") << std::nan("");
    }
    void pauseOfNothingReturnsAtOnce() {
        QFETCH(double, seconds);
        const double t0 = platform::monotonicSeconds();
        Module2::Pause(seconds);
        QVERIFY(platform::monotonicSeconds() - t0 < testsupport::allowMs(50) / 1000.0);
    }

    void pauseDoesNotSpinACore() {
        const double cpu0 = testsupport::cpuSeconds();
        Module2::Pause(0.5);
        const double used = testsupport::cpuSeconds() - cpu0;
        // A busy wait would use the whole 0.5 s; a generous bound keeps loaded machines green.
        QVERIFY2(used < 0.2, qPrintable(QString("CPU %1 s").arg(used)));
    }

    void deviceActionsWriteTheLetterAndNameTheSendingButton_data() {
        QTest::addColumn<int>("device");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QByteArray>("letter");
        QTest::addColumn<QString>("status");
        QTest::newRow("1 on") << 1 << true << QByteArray("a") << "START TV IS CURRENTLY ON";
        QTest::newRow("1 off") << 1 << false << QByteArray("b") << "STOP TV IS CURRENTLY OFF";
        QTest::newRow("2 on") << 2 << true << QByteArray("c") << "START SPRINKLER IS CURRENTLY ON";
        QTest::newRow("2 off") << 2 << false << QByteArray("d") << "STOP SPINKLER IS CURRENTLY OFF";
        QTest::newRow("3 on") << 3 << true << QByteArray("e") << "FRONT LIGHTS ON IS CURRENTLY ON";
        QTest::newRow("3 off") << 3 << false << QByteArray("f")
                               << "FRONT LIGHTS OFF IS CURRENTLY OFF";
        QTest::newRow("4 on") << 4 << true << QByteArray("g")
                              << "START POOL FILTER IS CURRENTLY ON";
        QTest::newRow("4 off") << 4 << false << QByteArray("h")
                               << "STOP POOL FILTER IS CURRENTLY OFF";
        QTest::newRow("5 on") << 5 << true << QByteArray("i") << "OPEN GARAGE DOOR IS CURRENTLY ON";
        QTest::newRow("5 off") << 5 << false << QByteArray("j")
                               << "CLOSE GARAGE DOOR IS CURRENTLY OFF";
    }
    void deviceActionsWriteTheLetterAndNameTheSendingButton() {
        QFETCH(int, device);
        QFETCH(bool, on);
        QFETCH(QByteArray, letter);
        QFETCH(QString, status);
        Form1* f = WindowRegistry::show<Form1>();
        const double t0 = platform::monotonicSeconds();
        Module2::DeviceAction(device, on);
        QVERIFY(platform::monotonicSeconds() - t0 >= 0.25);
        QCOMPARE(box->pty().read(1), letter);
        QCOMPARE(box->pty().drain(), QByteArray());
        QCOMPARE(f->Label(device)->text(), status);
        QCOMPARE(platform::backColor(f->Label(device)),
                 on ? platform::kColorGreen : platform::kColorRed);
        for (int other = 1; other <= 5; ++other)
            if (other != device)
                QCOMPARE(f->Label(other)->text(), QString("OFF STATE"));
    }

    void anActionAfterTheMainWindowClosedLoadsItAgainHidden() {
        Form1* first = WindowRegistry::show<Form1>();
        first->close();
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        testsupport::flushDeletes();
        Module2::DeviceAction(3, true);
        Form1* again = WindowRegistry::find<Form1>();
        QVERIFY(again);
        QVERIFY(!again->isVisible());
        QVERIFY(again->MSComm1().PortOpen());
        QCOMPARE(box->pty().read(1), QByteArray("e"));
        QCOMPARE(again->Label(3)->text(), QString("FRONT LIGHTS ON IS CURRENTLY ON"));
        QVERIFY(box->boxes().boxes.isEmpty());
    }

    void aFailedWriteChangesNoStatusAndSkipsThePause() {
        box->removePort();
        Form1* f = WindowRegistry::load<Form1>();
        QCOMPARE(box->boxes().boxes.size(), 1);  // the start-up message
        const double t0 = platform::monotonicSeconds();
        QVERIFY_THROWS_EXCEPTION(platform::RuntimeError, Module2::DeviceAction(1, true));
        QVERIFY(platform::monotonicSeconds() - t0 < testsupport::allowMs(200) / 1000.0);
        QCOMPARE(f->Label(1)->text(), QString("OFF STATE"));
        QCOMPARE(platform::backColor(f->Label(1)), platform::kColorRed);
    }

    void aClickDuringAnActionsPauseGoesOutAtOnce() {
        Form1* f = WindowRegistry::show<Form1>();
        // Runs at the first event the pause handles, however slow the machine.
        QTimer::singleShot(0, f, [f] { f->Command(7)->click(); });
        Module2::DeviceAction(1, true);
        Module2::DeviceAction(3, true);
        QCOMPARE(box->pty().read(3), QByteArray("ade"));
        QCOMPARE(f->Label(2)->text(), QString("START SPRINKLER IS CURRENTLY OFF"));
    }

    void captionsAreReadWhenTheActionRuns() {
        Form1* f = WindowRegistry::show<Form1>();
        f->Command(6)->setText("Telly off");
        QCOMPARE(f->Label(1)->text(), QString("OFF STATE"));
        Module2::DeviceAction(1, false);
        QCOMPARE(f->Label(1)->text(), QString("Telly off IS CURRENTLY OFF"));
        f->Command(6)->setText("");
        Module2::DeviceAction(1, false);
        QCOMPARE(f->Label(1)->text(), QString(" IS CURRENTLY OFF"));
    }

    void nestedActionsKeepTheirOrderAndDepth() {
        WindowRegistry::show<Form1>();
        int deepest = 0;
        QTimer::singleShot(50, qApp, [&] {
            deepest = Module2::pauseDepth();
            Module2::DeviceAction(5, false);
        });
        Module2::DeviceAction(4, true);
        QCOMPARE(box->pty().read(2), QByteArray("gj"));
        QCOMPARE(deepest, 1);
        QCOMPARE(Module2::pauseDepth(), 0);
    }
};

QTEST_MAIN(TestModule2)
#include "tst_module2.moc"
