#include <unistd.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "../support/TestSupport.h"
#include "mainwindow/Form1.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/Colors.h"
#include "platform/ui/WindowRegistry.h"
#include "remote/internetsettings.h"
#include "store/Module1.h"
#include "support/HttpTestServer.h"

using mainwindow::Form1;
using remote::internetsettings;

using platform::WindowRegistry;
using testsupport::Pty;

// A USB serial adapter pulled out and plugged back in while the program runs: the port is a
// symbolic link to a pseudo-terminal, closed and then replaced by a new one at the same name.
class TestSerialFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<QTemporaryDir> dev;
    std::unique_ptr<Pty> adapter;
    QString link;

    void plugIn() {
        adapter = std::make_unique<Pty>();
        QFile::remove(link);
        QVERIFY(QFile::link(adapter->slavePath(), link));
    }
    void pullOut() {
        adapter.reset();
        QVERIFY(QFile::remove(link));
    }
    QList<testsupport::RecordingMessageBox::Box>& boxes() { return box->boxes().boxes; }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        dev = std::make_unique<QTemporaryDir>();
        link = dev->path() + "/ttyUSB0";
        plugIn();
        qputenv("DOMIVOX_COM1", link.toLocal8Bit());
        testsupport::storeFactoryNames();
    }
    void cleanup() {
        box.reset();
        adapter.reset();
        dev.reset();
    }

    void aRememberedPortOpensWithoutTheVariable() {
        qunsetenv("DOMIVOX_COM1");
        QVERIFY(platform::SerialControl::rememberDevice(1, link));
        Form1* f = WindowRegistry::show<Form1>();
        QCOMPARE(boxes().size(), 0);
        QVERIFY(f->MSComm1().PortOpen());
        f->Command(4)->click();
        QCOMPARE(adapter->read(1), QByteArray("g"));
        QCOMPARE(f->Label(4)->text(), QString("START POOL FILTER IS CURRENTLY ON"));
    }

    void theBoxForAFailedOpenNamesTheDeviceTheReasonAndTheRemedy_data() {
        QTest::addColumn<QString>("why");
        QTest::addColumn<QStringList>("says");
        QTest::newRow("missing") << "missing"
                                 << QStringList{"no such device", "domivox-port", "restart"};
        QTest::newRow("busy") << "busy"
                              << QStringList{"busy", "Another program holds the device", "restart"};
        QTest::newRow("permission")
            << "permission"
            << QStringList{"permission denied", "sudo adduser \"$USER\" dialout", "log out"};
    }
    void theBoxForAFailedOpenNamesTheDeviceTheReasonAndTheRemedy() {
        QFETCH(QString, why);
        QFETCH(QStringList, says);
        platform::SerialControl holder;
        if (why == "missing") {
            pullOut();
        } else if (why == "busy") {
            holder.setSettings("2400,N,8,1");
            holder.setPortOpen(true);
        } else {
            if (::geteuid() == 0)
                QSKIP("root opens any device; the permission text is checked without a box");
            QVERIFY(QFile::setPermissions(adapter->slavePath(), QFileDevice::ReadOwner));
        }
        Form1* f = WindowRegistry::show<Form1>();
        QCOMPARE(boxes().size(), 1);  // the start-up message, word for word
        QCOMPARE(boxes().at(0).text,
                 QString("PLEASE CONFIGURE YOUR SETTINGS  In addition your serial port must be "
                         "on com 1"));
        f->Command(1)->click();
        f->Command(2)->click();
        QCOMPARE(boxes().size(), 2);
        const QString text = boxes().at(1).text;
        QVERIFY2(text.contains("port 1 (" + link + ")"), qPrintable(text));
        for (const QString& s : says)
            QVERIFY2(text.contains(s), qPrintable(s + " in: " + text));
    }

    void aModemLineChangeDropsDtr() {
        testsupport::FakeModemLines lines;
        Form1* f = WindowRegistry::show<Form1>();
        QVERIFY(f->MSComm1().DTREnable());
        QTest::qWait(50);
        lines.change();
        QTRY_VERIFY(!f->MSComm1().DTREnable());
        f->Command(5)->click();
        QCOMPARE(adapter->read(1), QByteArray("i"));
        QVERIFY(!f->MSComm1().DTREnable());
    }

    void buttonsFailQuietlyWhileUnpluggedAndWorkAgainWhenBack() {
        Form1* f = WindowRegistry::show<Form1>();
        f->Command(1)->click();
        QCOMPARE(adapter->read(1), QByteArray("a"));
        QCOMPARE(f->Label(1)->text(), QString("START TV IS CURRENTLY ON"));

        pullOut();
        for (int n : {6, 2, 7, 6, 3})
            f->Command(n)->click();
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().at(0).title, QString("Serial port"));
        QVERIFY2(boxes().at(0).text.contains(link), qPrintable(boxes().at(0).text));
        QCOMPARE(f->Label(1)->text(), QString("START TV IS CURRENTLY ON"));
        QCOMPARE(platform::backColor(f->Label(1)), platform::kColorGreen);
        QCOMPARE(f->Label(2)->text(), QString("OFF STATE"));
        QVERIFY(f->MSComm1().PortOpen());

        plugIn();
        f->Command(6)->click();
        QCOMPARE(adapter->read(1), QByteArray("b"));
        QCOMPARE(f->Label(1)->text(), QString("START TV IS CURRENTLY OFF"));
        const termios t = adapter->lineSettings();
        QCOMPARE(int(cfgetospeed(&t)), int(B2400));
        QCOMPARE(int(t.c_cflag & CSIZE), int(CS8));
        QVERIFY(!(t.c_cflag & PARENB));
        QVERIFY(!(t.c_cflag & CSTOPB));

        // A second pull is a new run of failures, told once again.
        pullOut();
        f->Command(3)->click();
        f->Command(3)->click();
        QCOMPARE(boxes().size(), 2);
        plugIn();
        f->Command(3)->click();
        QCOMPARE(adapter->read(1), QByteArray("e"));
        QCOMPARE(adapter->drain(), QByteArray());
    }

    void thePollerIsToldOncePerRunAndGoesOnAfterThePlugComesBack() {
        testhttp::Server server;
        server.setTitle("/remote", "00000");
        Module1::WriteSetting(Setting::Address, server.url("/remote"));
        Module1::WriteSetting(Setting::timer1, "300");
        Form1* f = WindowRegistry::show<Form1>();
        internetsettings* w = WindowRegistry::show<internetsettings>();
        w->Text2()->setText("300");
        w->Command2()->click();
        QTRY_COMPARE(w->Text9()->text(), QString("00000"));

        pullOut();
        for (const char* title : {"10000", "00000", "10000"}) {
            server.setTitle("/remote", title);
            QTRY_COMPARE(w->Text9()->text(), QString(title));
            QTest::qWait(500);
        }
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes().at(0).title, QString("Internet Control"));
        QCOMPARE(f->Label(1)->text(), QString("OFF STATE"));

        plugIn();
        server.setTitle("/remote", "00000");
        QCOMPARE(adapter->read(1, 5000), QByteArray("b"));
        QCOMPARE(f->Label(1)->text(), QString("STOP TV IS CURRENTLY OFF"));
        server.setTitle("/remote", "10000");
        QCOMPARE(adapter->read(1, 5000), QByteArray("a"));
        QCOMPARE(boxes().size(), 1);
    }
};

QTEST_MAIN(TestSerialFaults)
#include "tst_serialfaults.moc"
