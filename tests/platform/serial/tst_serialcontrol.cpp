#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include <QSignalSpy>
#include <QtTest>

#include "platform/Errors.h"
#include "platform/serial/SerialControl.h"
#include "platform/settings/SettingsBackend.h"
#include "support/TestSupport.h"

using platform::RuntimeError;
using platform::SerialControl;
using testsupport::Pty;
using Failure = SerialControl::Failure;
using Source = SerialControl::PortSource;

using testsupport::FakeModemLines;

class TestSerialControl : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> config;

    QString settingsText() const {
        QFile f(platform::SettingsBackend::filePath());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

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
    void init() {
        config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", config->path().toLocal8Bit());
    }
    void cleanup() {
        qunsetenv("DOMIVOX_COM1");
        SerialControl::setStableNameFolderForTesting(QString());
        config.reset();
    }

    // A settings file that is there but cannot be read may hold the choice: port 1 is then no
    // device at all, and opening it fails with the reason rather than trying the default.
    void anUnreadableSettingsFileLeavesPortOneUnknown_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("reason");
        QTest::newRow("link loop") << "loop"
                                   << "Too many levels of symbolic links";
        QTest::newRow("a folder") << "folder"
                                  << "it is not a file";
    }
    void anUnreadableSettingsFileLeavesPortOneUnknown() {
        QFETCH(QString, damage);
        QFETCH(QString, reason);
        qunsetenv("DOMIVOX_COM1");
        const QString file = platform::SettingsBackend::filePath();
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QVERIFY(damage == "loop" ? QFile::link(file, file) : QDir().mkpath(file));
        const SerialControl::PortChoice choice = SerialControl::choiceFor(1);
        QCOMPARE(choice.source, SerialControl::PortSource::Unreadable);
        QVERIFY2(choice.device.isEmpty(), qPrintable(choice.device));
        SerialControl comm;
        comm.setReportOpenFailures(false);
        QVERIFY_THROWS_EXCEPTION(platform::RuntimeError, comm.setPortOpen(true));
        QVERIFY2(comm.lastFailure().contains(reason) && comm.lastFailure().contains(file),
                 qPrintable(comm.lastFailure()));
        QVERIFY(!comm.PortOpen());
    }

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

    // ---- which device port 1 is -----------------------------------------------------

    void portOneResolvesVariableThenRememberedThenDefault_data() {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("source");
        QTest::newRow("nothing") << ""
                                 << ""
                                 << "/dev/ttyS0" << int(Source::Default);
        QTest::newRow("remembered") << ""
                                    << "/dev/ttyUSB3"
                                    << "/dev/ttyUSB3" << int(Source::Remembered);
        QTest::newRow("variable wins") << "/dev/pts/7"
                                       << "/dev/ttyUSB3"
                                       << "/dev/pts/7" << int(Source::Variable);
        QTest::newRow("variable alone") << "/dev/pts/7"
                                        << ""
                                        << "/dev/pts/7" << int(Source::Variable);
    }
    void portOneResolvesVariableThenRememberedThenDefault() {
        QFETCH(QString, variable);
        QFETCH(QString, remembered);
        QFETCH(QString, device);
        QFETCH(int, source);
        if (!variable.isEmpty())
            qputenv("DOMIVOX_COM1", variable.toLocal8Bit());
        if (!remembered.isEmpty())
            QVERIFY(platform::SettingsBackend::write("Platform\\Serial", "COM1", remembered));
        const SerialControl::PortChoice choice = SerialControl::choiceFor(1);
        QCOMPARE(choice.device, device);
        QCOMPARE(int(choice.source), source);
        QCOMPARE(SerialControl().devicePath(), device);
        // Other ports keep their own default.
        QCOMPARE(SerialControl::devicePathFor(2), QString("/dev/ttyS1"));
    }

    void theChoiceLivesInItsOwnSectionAndCanBeEditedByHand() {
        Pty pty;
        platform::SettingsBackend::write("Software\\VAZ\\Registry", "caption", "Garden");
        QCOMPARE(SerialControl::rememberDevice(1, pty.slavePath()), pty.slavePath());
        const QString text = settingsText();
        QVERIFY2(text.contains("[Platform\\Serial]\nCOM1=\"" + pty.slavePath() + "\"\n"),
                 qPrintable(text));
        QCOMPARE(platform::SettingsBackend::read("Software\\VAZ\\Registry", "caption"),
                 QString("Garden"));
        QVERIFY(!platform::SettingsBackend::read("Software\\VAZ\\Registry", "COM1"));

        // A hand edit that leaves the quotes off still counts.
        QFile f(platform::SettingsBackend::filePath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[Platform\\Serial]\nCOM1 = /dev/ttyUSB1 \n");
        f.close();
        QCOMPARE(SerialControl::choiceFor(1).device, QString("/dev/ttyUSB1"));

        QVERIFY(SerialControl::forgetDevice(1));
        QCOMPARE(SerialControl::choiceFor(1).device, QString("/dev/ttyS0"));
        QVERIFY(!settingsText().contains("COM1"));
        QVERIFY(SerialControl::forgetDevice(1));  // forgetting twice is no failure
    }

    void theStableByIdNameIsRememberedWhenThereIsOne() {
        Pty adapter, other;
        QTemporaryDir byId;
        SerialControl::setStableNameFolderForTesting(byId.path());
        const QString stable = byId.path() + "/usb-Quennart_Board_A1B2-if00-port0";
        QVERIFY(QFile::link(other.slavePath(), byId.path() + "/usb-Other_Thing-if00-port0"));
        QVERIFY(QFile::link(adapter.slavePath(), stable));

        QCOMPARE(SerialControl::stableNameFor(adapter.slavePath()), stable);
        QCOMPARE(SerialControl::rememberDevice(1, adapter.slavePath()), stable);
        QCOMPARE(SerialControl::rememberedDevice(1), stable);
        // The by-id name given, a link of the user's own and a device without one stay as given.
        QCOMPARE(SerialControl::stableNameFor(stable), stable);
        QTemporaryDir mine;
        QVERIFY(QFile::link(adapter.slavePath(), mine.path() + "/board"));
        QCOMPARE(SerialControl::stableNameFor(mine.path() + "/board"), mine.path() + "/board");
        Pty plain;
        QCOMPARE(SerialControl::stableNameFor(plain.slavePath()), plain.slavePath());

        // Opening the remembered name reaches the device behind it.
        SerialControl comm;
        comm.setSettings("2400,N,8,1");
        comm.setPortOpen(true);
        comm.Output("g");
        QCOMPARE(adapter.read(1), QByteArray("g"));
    }

    // ---- why opening failed ---------------------------------------------------------

    void openFailuresAreToldByKind() {
        Pty pty;
        SerialControl holder;
        openOn(holder, pty);

        SerialControl second;
        second.setReportOpenFailures(false);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, second.setPortOpen(true));
        QCOMPARE(second.lastFailureKind(), Failure::Busy);
        QVERIFY2(second.lastFailure().contains("busy"), qPrintable(second.lastFailure()));

        // A write to a port that never opened keeps telling why it did not open.
        QVERIFY_THROWS_EXCEPTION(RuntimeError, second.Output("a"));
        QCOMPARE(second.lastFailureKind(), Failure::Busy);

        if (::geteuid() != 0) {
            holder.setPortOpen(false);
            QVERIFY(QFile::setPermissions(pty.slavePath(), QFileDevice::ReadOwner));
            QVERIFY_THROWS_EXCEPTION(RuntimeError, second.setPortOpen(true));
            QCOMPARE(second.lastFailureKind(), Failure::Permission);
            QCOMPARE(second.lastFailure(), QString("permission denied"));
        }
    }

    void everyFailureSaysWhatToDo_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("hint");
        QTest::newRow("missing") << int(Failure::Missing) << "domivox-port set";
        QTest::newRow("permission") << int(Failure::Permission) << "sudo adduser \"$USER\" dialout";
        QTest::newRow("busy") << int(Failure::Busy) << "Another program holds";
        QTest::newRow("gone") << int(Failure::Gone) << "plugged in";
        QTest::newRow("other") << int(Failure::Other) << "domivox-port check";
        QTest::newRow("not open") << int(Failure::NotOpen) << "domivox-port check";
    }
    void everyFailureSaysWhatToDo() {
        QFETCH(int, kind);
        QFETCH(QString, hint);
        const QString advice = SerialControl::adviceFor(Failure(kind));
        QVERIFY2(advice.contains(hint), qPrintable(advice));
    }

    // ---- modem lines ----------------------------------------------------------------

    void aModemLineChangeRaisesAnEvent() {
        FakeModemLines lines;
        Pty pty;
        SerialControl comm;
        QSignalSpy events(&comm, &SerialControl::OnComm);
        openOn(comm, pty);
        QTest::qWait(50);
        QCOMPARE(events.count(), 0);
        lines.change();
        QTRY_COMPARE(events.count(), 1);
        lines.change();
        QTRY_COMPARE(events.count(), 2);
        comm.Output("a");  // the port goes on working
        QCOMPARE(pty.read(1), QByteArray("a"));

        // Closing ends the wait; a change after that is no event of this port.
        comm.setPortOpen(false);
        lines.change();
        QTest::qWait(100);
        QCOMPARE(events.count(), 2);

        // Reopened, it watches again.
        comm.setPortOpen(true);
        QTest::qWait(50);
        const int before = events.count();
        lines.change();
        QTRY_COMPARE(events.count(), before + 1);
    }

    void closingWhileTheWatcherWaitsIsQuick() {
        FakeModemLines lines;
        Pty pty;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer t;
            t.start();
            SerialControl comm;
            openOn(comm, pty);
            comm.setPortOpen(false);
            QVERIFY2(t.elapsed() < testsupport::allowMs(500),
                     qPrintable(QString::number(t.elapsed())));
        }
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
        QTest::newRow("two stop") << "9600,N,8,2" << int(B9600) << int(CS8) << false << false
                                  << true;
        QTest::newRow("fast") << "19200,N,8,1" << int(B19200) << int(CS8) << false << false
                              << false;
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
        // A pseudo-terminal refuses DTR requests and the modem-line wait; neither must count as
        // failing to open, nor as a line event.
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
        QCOMPARE(comm.lastFailureKind(), Failure::Missing);
        QVERIFY(SerialControl::adviceFor(Failure::Missing).contains("domivox-port"));
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
        QVERIFY2(comm.InBufferCount() <= 16 * 1024,
                 qPrintable(QString::number(comm.InBufferCount())));
        comm.Output("a");
        QCOMPARE(pty.read(1), QByteArray("a"));
    }
};

QTEST_MAIN(TestSerialControl)
#include "tst_serialcontrol.moc"
