#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "bus/PanelService.h"
#include "mainwindow/Form1.h"
#include "platform/ui/WindowRegistry.h"
#include "remote/internetsettings.h"
#include "schedule/ApplyDeviceState.h"
#include "schedule/frmTimer.h"
#include "store/Module1.h"
#include "support/HttpTestServer.h"

using mainwindow::Form1;
using platform::WindowRegistry;

// The panel of this process on a private session bus, its main window on a pseudo-terminal, and
// domivox-send and a second panel run as the real programs against it.
class TestPanelBus : public QObject {
    Q_OBJECT

    QProcess daemon;
    QTemporaryDir runtime;  // the bus listens at <runtime>/bus, as a systemd user session's does
    std::unique_ptr<testsupport::Sandbox> box;
    Form1* form = nullptr;
    QList<QStringList> announced;

    struct Ran {
        int status;
        QString out, err;
    };
    Ran run(const QString& program, const QStringList& args,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args);
        // The panel answers from this very event loop.
        QDeadlineTimer deadline(testsupport::allowMs(10000));
        while (p.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(5);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    Ran send(const QStringList& args) { return run(DOMIVOX_SEND_BIN, args); }

public Q_SLOTS:
    void propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&) {
        if (changed.contains("States"))
            announced << changed.value("States").toStringList();
    }

private Q_SLOTS:
    void initTestCase() {
        const QString address = "unix:path=" + runtime.path() + "/bus";
        daemon.start("dbus-daemon",
                     {"--session", "--nofork", "--print-address", "--address=" + address});
        QVERIFY(daemon.waitForReadyRead(testsupport::allowMs(5000)));
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit());
        QCOMPARE(bus::PanelService::start(this), bus::PanelService::Start::Serving);
        QDBusConnection watcher = QDBusConnection::connectToBus(address, "watcher");
        QVERIFY(watcher.connect("org.example.domivox", "/org/example/domivox",
                                "org.freedesktop.DBus.Properties", "PropertiesChanged", this,
                                SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    }
    void cleanupTestCase() {
        daemon.kill();
        daemon.waitForFinished();
    }
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        testsupport::storeFactoryNames();
        Module1::WriteSetting(Setting::disclaimer, "1");
        device::DeviceAccount::instance().reset();
        announced.clear();
        form = WindowRegistry::show<Form1>();
    }
    void cleanup() { box.reset(); }

    void aCommandSendsItsLetterAndShowsTheButtonsStatus_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("device");
        QTest::addColumn<QString>("status");
        QTest::newRow("3 on") << QStringList{"3", "on"} << QByteArray("e") << 3
                              << "FRONT LIGHTS ON IS CURRENTLY ON";
        // A bus call names the device by its ON button, as a button does.
        QTest::newRow("1 off") << QStringList{"1", "OFF"} << QByteArray("b") << 1
                               << "START TV IS CURRENTLY OFF";
        QTest::newRow("caption") << QStringList{"close garage door"} << QByteArray("j") << 5
                                 << "OPEN GARAGE DOOR IS CURRENTLY OFF";
        QTest::newRow("pattern") << QStringList{"pattern", "x1x0x"} << QByteArray("ch") << 4
                                 << "START POOL FILTER IS CURRENTLY OFF";
    }
    void aCommandSendsItsLetterAndShowsTheButtonsStatus() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, wire);
        QFETCH(int, device);
        QFETCH(QString, status);
        const Ran r = send(args);
        QCOMPARE(r.status, 0);
        QCOMPARE(box->pty().drain(), wire);
        QCOMPARE(form->Label(device)->text(), status);
        QCOMPARE(send({"status"}).out.split('\n').at(device - 1),
                 QString("%1\t%2\t%3")
                     .arg(device)
                     .arg(form->Command(device)->text(), status.endsWith("ON") ? "on" : "off"));
    }

    void applyKeepsTheCountdownsOrderAndSpacing() {
        QProcess p;
        p.start(DOMIVOX_SEND_BIN, {"pattern", "10z01"});
        QByteArray wire = box->pty().read(1);
        QElapsedTimer gap;
        gap.start();
        while (wire.size() < 4)
            wire += box->pty().read(1);
        QVERIFY2(gap.elapsed() >= 3 * 250 - 20, qPrintable(QString::number(gap.elapsed())));
        QCOMPARE(wire, QByteArray("adhi"));
        QTRY_COMPARE(p.state(), QProcess::NotRunning);
        QCOMPARE(p.exitCode(), 0);
    }

    void whatDidNotGoOutIsNeverReportedAsSent_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::newRow("device 0") << "" << QStringList{"0", "on"} << 1 << "no device 0";
        QTest::newRow("device 6") << "" << QStringList{"6", "off"} << 1 << "no device 6";
        QTest::newRow("short pattern") << "" << QStringList{"pattern", "10"} << 1 << "five";
        QTest::newRow("no port") << "no port" << QStringList{"2", "on"} << 1 << "not open";
        QTest::newRow("write fails")
            << "unplugged" << QStringList{"pattern", "11111"} << 1 << "controller board";
        QTest::newRow("disclaimer not accepted")
            << "first start" << QStringList{"pattern", "11111"} << 1 << "disclaimer";
        QTest::newRow("no panel") << "no panel" << QStringList{"2", "on"} << 3 << "no Domivox";
        QTest::newRow("unknown caption") << "" << QStringList{"START TV ON"} << 1 << "captioned";
        QTest::newRow("usage") << "" << QStringList{"2", "up"} << 2 << "on or off";
    }
    void whatDidNotGoOutIsNeverReportedAsSent() {
        QFETCH(QString, fault);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, reason);
        QDBusConnection panel("domivox-panel");
        if (fault == "no port") {
            form->Unload();
            box->removePort();
            form = WindowRegistry::load<Form1>();
        } else if (fault == "unplugged") {
            box->pty().closeMaster();
        } else if (fault == "first start") {
            Module1::WriteSetting(Setting::disclaimer, "");
        } else if (fault == "no panel") {
            QVERIFY(panel.interface()->unregisterService("org.example.domivox"));
        }
        const Ran r = send(args);
        if (fault == "no panel")
            QVERIFY(panel.interface()->registerService("org.example.domivox").isValid());
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(form->Label(n)->text(), QString("OFF STATE"));
        if (fault != "unplugged")
            QCOMPARE(box->pty().drain(), QByteArray());
    }

    void everySendersSwitchReachesAPropertiesWatcher() {
        form->Command(7)->click();
        QTRY_COMPARE(announced.value(0),
                     (QStringList{"unknown", "off", "unknown", "unknown", "unknown"}));
        auto* timer = WindowRegistry::load<schedule::frmTimer>();
        for (int n = 1; n <= 5; ++n)
            timer->Text(n)->setText(n == 4 ? "1" : "x");
        schedule::ApplyDeviceState();
        QTRY_COMPARE(announced.value(1),
                     (QStringList{"unknown", "off", "unknown", "on", "unknown"}));
        testhttp::Server server;
        server.setTitle("/remote", "00000");
        Module1::WriteSetting(Setting::Address, server.url("/remote"));
        Module1::WriteSetting(Setting::timer1, "300");
        auto* page = WindowRegistry::show<remote::internetsettings>();
        page->Text2()->setText("300");
        page->Command2()->click();
        QTRY_COMPARE(page->Text9()->text(), QString("00000"));
        server.setTitle("/remote", "10000");
        QTRY_COMPARE_WITH_TIMEOUT(announced.last(),
                                  (QStringList{"on", "off", "unknown", "on", "unknown"}),
                                  testsupport::allowMs(5000));
        // A letter that changes nothing is not announced.
        const int before = announced.size();
        form->Command(1)->click();
        QTest::qWait(100);
        QCOMPARE(announced.size(), before);
    }

    void aSecondPanelRaisesTheFirstAndEnds() {
        form->hide();
        const Ran second = run(DOMIVOX_BIN, {});
        QCOMPARE(second.status, 0);
        QTRY_VERIFY(form->isVisible());
    }

    void withoutABusThePanelRunsQuietly() {
        testsupport::Pty port;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime.path() + "/none");
        env.insert("DOMIVOX_COM1", port.slavePath());
        QProcess panel;
        panel.setProcessEnvironment(env);
        panel.start(DOMIVOX_BIN, {});
        QVERIFY(panel.waitForStarted());
        QVERIFY(!panel.waitForFinished(testsupport::allowMs(1500)));
        panel.kill();
        panel.waitForFinished();
        const QString err = QString::fromUtf8(panel.readAllStandardError());
        QVERIFY2(!err.contains("bus", Qt::CaseInsensitive), qPrintable(err));
    }

    void cronFindsTheBusWithoutItsAddress_data() {
        QTest::addColumn<bool>("runtimeDir");
        QTest::newRow("XDG_RUNTIME_DIR") << true;
        QTest::newRow("nothing set") << false;
    }
    void cronFindsTheBusWithoutItsAddress() {
        QFETCH(bool, runtimeDir);
        QProcessEnvironment cron;  // what cron gives a job: HOME, PATH, SHELL and no more
        cron.insert("HOME", QDir::homePath());
        cron.insert("PATH", "/usr/bin:/bin");
        cron.insert("SHELL", "/bin/sh");
        if (runtimeDir)
            cron.insert("XDG_RUNTIME_DIR", runtime.path());
        const Ran r = run(DOMIVOX_SEND_BIN, {"4", "on"}, cron);
        if (runtimeDir) {
            QCOMPARE(r.status, 0);
            QCOMPARE(box->pty().drain(), QByteArray("g"));
            return;
        }
        const QString fallback = QString("/run/user/%1/bus").arg(getuid());
        if (QFile::exists(fallback))
            QSKIP("this machine has a session bus of its own at /run/user/<uid>/bus");
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(fallback), qPrintable(r.err));
    }
};

QTEST_MAIN(TestPanelBus)
#include "tst_panelbus.moc"
