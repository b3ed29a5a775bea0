#include <sys/ioctl.h>
#include <termios.h>

#include <memory>

#include <QSignalSpy>
#include <QtTest>

#include "../support/TestSupport.h"
#include "platform/Errors.h"
#include "platform/SerialControl.h"

using platform::RuntimeError;
using platform::SerialControl;
using testsupport::Pty;

class TestSerialControl : public QObject {
    Q_OBJECT

private:
    static void openOn(SerialControl& comm, Pty& pty, const QString& settings = "2400,N,8,1") {
        qputenv("DOMIVOX_COM1", pty.slavePath().toLocal8Bit());
        comm.setRThreshold(2);
        comm.setInputLen(7);
        comm.setSettings(settings);
        comm.setDTREnable(true);
        comm.setCommPort(1);
        comm.setPortOpen(true);
    }

private Q_SLOTS:
    void cleanup() { qunsetenv("DOMIVOX_COM1"); }

    void portNumbersMapToDevices() {
        qunsetenv("DOMIVOX_COM1");
        qunsetenv("DOMIVOX_COM2");
        QCOMPARE(SerialControl::devicePathFor(1), QString("/dev/ttyS0"));
        QCOMPARE(SerialControl::devicePathFor(2), QString("/dev/ttyS1"));
        qputenv("DOMIVOX_COM2", "/dev/serial/by-id/usb-adapter");
        QCOMPARE(SerialControl::devicePathFor(2), QString("/dev/serial/by-id/usb-adapter"));
        QCOMPARE(SerialControl::devicePathFor(1), QString("/dev/ttyS0"));
        qunsetenv("DOMIVOX_COM2");
    }

    void writesExactlyTheLettersAndNothingElse() {
        Pty pty;
        SerialControl comm;
        openOn(comm, pty);
        QVERIFY(comm.PortOpen());
        comm.Output("a");
        comm.Output("b");
        comm.Output("j");
        QCOMPARE(pty.read(3), QByteArray("abj"));
        // No line ending, no framing, nothing trailing.
        QCOMPARE(pty.drain(), QByteArray());
    }

    void appliesTheLineSettings_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("parity");
        QTest::addColumn<bool>("odd");
        QTest::addColumn<bool>("twoStop");
        QTest::newRow("board") << "2400,N,8,1" << int(B2400) << int(CS8) << false << false << false;
        // A pseudo-terminal always keeps 8 bits without parity, so other framings are only
        // checked for what it does keep.
        QTest::newRow("two stop") << "9600,N,8,2" << int(B9600) << int(CS8) << false << false << true;
        QTest::newRow("fast") << "19200,N,8,1" << int(B19200) << int(CS8) << false << false << false;
    }
    void appliesTheLineSettings() {
        QFETCH(QString, settings);
        QFETCH(int, speed);
        QFETCH(int, size);
        QFETCH(bool, parity);
        QFETCH(bool, odd);
        QFETCH(bool, twoStop);
        Pty pty;
        SerialControl comm;
        openOn(comm, pty, settings);
        const termios t = pty.lineSettings();
        QCOMPARE(int(cfgetospeed(&t)), speed);
        QCOMPARE(int(cfgetispeed(&t)), speed);
        QCOMPARE(int(t.c_cflag & CSIZE), size);
        QCOMPARE(bool(t.c_cflag & PARENB), parity);
        if (parity)
            QCOMPARE(bool(t.c_cflag & PARODD), odd);
        QCOMPARE(bool(t.c_cflag & CSTOPB), twoStop);
        QVERIFY(!(t.c_cflag & CRTSCTS));
        QVERIFY(!(t.c_iflag & (IXON | IXOFF)));
        // Raw: a letter must not be translated on its way out.
        QVERIFY(!(t.c_oflag & OPOST));
    }

    void settingsChangedWhileOpenApplyAtOnce() {
        Pty pty;
        SerialControl comm;
        openOn(comm, pty);
        comm.setSettings("4800,N,8,1");
        const termios t = pty.lineSettings();
        QCOMPARE(int(cfgetospeed(&t)), int(B4800));
    }

    void refusesUnusableSettingsText_data() {
        QTest::addColumn<QString>("text");
        for (const char* bad : {"", "2400", "2400,N,8", "2400,X,8,1", "abc,N,8,1", "2400,N,9,1",
                                "2400,N,8,3", "-2400,N,8,1", "2400,N,8,1,1"})
            QTest::newRow(bad) << QString(bad);
    }
    void refusesUnusableSettingsText() {
        QFETCH(QString, text);
        SerialControl comm;
        comm.setSettings("2400,N,8,1");
        QVERIFY_THROWS_EXCEPTION(RuntimeError, comm.setSettings(text));
        QCOMPARE(comm.Settings(), QString("2400,N,8,1"));
    }

    void aPortWithoutModemLinesStillOpens() {
        // A pseudo-terminal refuses DTR requests; that must not count as failing to open, nor
        // as a line event.
        Pty pty;
        SerialControl comm;
        QSignalSpy events(&comm, &SerialControl::OnComm);
        openOn(comm, pty);
        QVERIFY(comm.PortOpen());
        QVERIFY(comm.DTREnable());
        comm.setDTREnable(false);
        comm.setDTREnable(true);
        QCoreApplication::processEvents();
        QCOMPARE(events.count(), 0);
        comm.Output("c");
        QCOMPARE(pty.read(1), QByteArray("c"));
    }

    void openingAMissingDeviceFailsAndSaysWhy() {
        qputenv("DOMIVOX_COM1", "/nonexistent/domivox-test-port");
        SerialControl comm;
        comm.setSettings("2400,N,8,1");
        bool threw = false;
        try {
            comm.setPortOpen(true);
        } catch (const RuntimeError&) {
            threw = true;
        }
        QVERIFY(threw);
        QVERIFY(!comm.PortOpen());
        QVERIFY2(comm.lastFailure().contains("no such device"), qPrintable(comm.lastFailure()));
        QVERIFY(comm.lastFailure().contains("DOMIVOX_COM1"));
    }

    void writingToAClosedPortFails() {
        SerialControl comm;
        QVERIFY_THROWS_EXCEPTION(RuntimeError, comm.Output("a"));
        Pty pty;
        openOn(comm, pty);
        comm.setPortOpen(false);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, comm.Output("a"));
        QCOMPARE(pty.drain(), QByteArray());
    }

    void aDeviceThatWentAwayFailsTheWrite() {
        Pty pty;
        SerialControl comm;
        openOn(comm, pty);
        comm.Output("a");
        QCOMPARE(pty.read(1), QByteArray("a"));
        pty.closeMaster();
        QVERIFY_THROWS_EXCEPTION(RuntimeError, comm.Output("b"));
        QVERIFY(!comm.lastFailure().isEmpty());
    }

    void aDeviceThatComesBackAtItsPathIsUsedAgain() {
        // A USB adapter pulled out and plugged back in: same path, new device behind it.
        QTemporaryDir dir;
        const QString link = dir.path() + "/ttyUSB-board";
        auto first = std::make_unique<Pty>();
        QVERIFY(QFile::link(first->slavePath(), link));
        qputenv("DOMIVOX_COM1", link.toLocal8Bit());
        SerialControl comm;
        comm.setSettings("2400,N,8,1");
        comm.setDTREnable(true);
        comm.setPortOpen(true);
        comm.Output("a");
        QCOMPARE(first->read(1), QByteArray("a"));

        first.reset();  // pulled out
        QVERIFY_THROWS_EXCEPTION(RuntimeError, comm.Output("b"));
        QVERIFY(comm.PortOpen());
        QVERIFY_THROWS_EXCEPTION(RuntimeError, comm.Output("c"));  // still gone: fails again

        Pty second;  // plugged back in
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(second.slavePath(), link));
        comm.Output("d");
        QCOMPARE(second.read(1), QByteArray("d"));
        QCOMPARE(second.drain(), QByteArray());
        const termios t = second.lineSettings();
        QCOMPARE(int(cfgetospeed(&t)), int(B2400));
        QVERIFY(comm.PortOpen());
    }

    void thePortCannotChangeWhileOpen() {
        Pty pty;
        SerialControl comm;
        openOn(comm, pty);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, comm.setCommPort(2));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, comm.setPortOpen(true));
        QCOMPARE(comm.CommPort(), 1);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, comm.setCommPort(0));
    }

    void receivedDataAtTheThresholdRaisesAnEvent() {
        Pty pty;
        SerialControl comm;
        QSignalSpy events(&comm, &SerialControl::OnComm);
        openOn(comm, pty);
        pty.send("x");
        QTest::qWait(200);
        QCOMPARE(events.count(), 0);  // one character is below the threshold of two
        pty.send("y");
        QTRY_VERIFY(events.count() >= 1);
    }

    void aFloodOfIncomingDataStaysBounded() {
        // Nothing ever reads what the board sends; it must not pile up in memory.
        Pty pty;
        SerialControl comm;
        openOn(comm, pty);
        const QByteArray chunk(4096, 'z');
        for (int i = 0; i < 64; ++i) {
            pty.send(chunk);
            QCoreApplication::processEvents();
        }
        QTest::qWait(100);
        QVERIFY2(comm.InBufferCount() <= 16 * 1024, qPrintable(QString::number(comm.InBufferCount())));
        comm.Output("a");
        QCOMPARE(pty.read(1), QByteArray("a"));
    }
};

QTEST_MAIN(TestSerialControl)
#include "tst_serialcontrol.moc"
