#include <unistd.h>

#include <QProcess>
#include <QTextStream>
#include <QtTest>

#include "PortTool.h"
#include "platform/serial/SerialControl.h"
#include "platform/settings/SettingsBackend.h"
#include "support/TestSupport.h"

using platform::SerialControl;
using testsupport::Pty;

// domivox-port against pseudo-terminals standing in for serial devices, in a private settings
// folder: its commands in-process, and the installed binary for what only a process shows.
class TestPortTool : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> config;
    std::unique_ptr<QTemporaryDir> dev;
    QList<PortTool::Device> scanned;  // what the system's scan would report
    QString out, err;

    int run(const QStringList& args) {
        out.clear();
        err.clear();
        QTextStream o(&out), e(&err);
        return PortTool::run(args, o, e);
    }

    // The --plain line of a device, split into its fields.
    QStringList plainLineOf(const QString& path) {
        if (run({"--plain"}) != 0)
            return {};
        for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
            const QStringList fields = line.split('\t');
            if (fields.value(1) == path)
                return fields;
        }
        return {};
    }

    QProcessEnvironment toolEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config->path());
        env.remove("DOMIVOX_COM1");
        return env;
    }

private Q_SLOTS:
    void init() {
        config = std::make_unique<QTemporaryDir>();
        dev = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", config->path().toLocal8Bit());
        qunsetenv("DOMIVOX_COM1");
        scanned.clear();
        PortTool::setScanForTesting([this] { return scanned; });
    }
    void cleanup() {
        qunsetenv("DOMIVOX_COM1");
        PortTool::setScanForTesting({});
        SerialControl::setStableNameFolderForTesting(QString());
        config.reset();
        dev.reset();
    }

    void badUsageIsStatusTwo_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("unknown command") << QStringList{"frob"} << 2;
        QTest::newRow("set without device") << QStringList{"set"} << 2;
        QTest::newRow("set two devices") << QStringList{"set", "/dev/a", "/dev/b"} << 2;
        QTest::newRow("clear with argument") << QStringList{"clear", "1"} << 2;
        QTest::newRow("unknown option") << QStringList{"--frob"} << 2;
        QTest::newRow("plain with check") << QStringList{"check", "--plain"} << 2;
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("help wins") << QStringList{"set", "--help"} << 0;
    }
    void badUsageIsStatusTwo() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QCOMPARE(run(args), status);
        if (status == 2) {
            QVERIFY2(err.contains("domivox-port --help"), qPrintable(err));
            QVERIFY(out.isEmpty());
        } else {
            QVERIFY(out.contains("Usage: domivox-port"));
        }
        QCOMPARE(SerialControl::choiceFor(1).source, SerialControl::PortSource::Default);
    }

    void theListNumbersTheFoundDevicesAndMarksPortOne() {
        Pty ttyUSB10, ttyUSB2, ttyACM0;
        QTemporaryDir byId;
        SerialControl::setStableNameFolderForTesting(byId.path());
        const QString stable = byId.path() + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
        QVERIFY(QFile::link(ttyUSB2.slavePath(), stable));
        // Named so the numeric order differs from the text order.
        const QString base = dev->path() + "/tty";
        QVERIFY(QFile::link(ttyUSB10.slavePath(), base + "USB10"));
        QVERIFY(QFile::link(ttyUSB2.slavePath(), base + "USB2"));
        QVERIFY(QFile::link(ttyACM0.slavePath(), base + "ACM0"));
        scanned = {{base + "USB10", {}, {}, {}, {}, {}, false},
                   {base + "USB2", {}, "0403:6001", "FTDI", "FT232R USB UART", "A50285BI", false},
                   {base + "ACM0", {}, {}, {}, {}, {}, false}};
        QVERIFY(SerialControl::rememberDevice(1, stable));

        QCOMPARE(run({"--plain"}), 0);
        const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);  // port 1 is among the found ones: no extra line
        QCOMPARE(lines.at(0).split('\t').value(1), base + "ACM0");
        QCOMPARE(lines.at(1), "2\t" + base + "USB2\t" + stable +
                                  "\t0403:6001\tFTDI\tFT232R USB UART\tA50285BI\tremembered\tok");
        QCOMPARE(lines.at(2).split('\t').value(1), base + "USB10");
        QCOMPARE(lines.at(2).split('\t').value(7), QString());

        QCOMPARE(run({}), 0);
        QVERIFY2(out.contains("*  2  " + base + "USB2   <- port 1\n"), qPrintable(out));
        QVERIFY(out.contains("serial number  A50285BI"));
        QVERIFY2(out.contains("   3  " + base + "USB10\n"), qPrintable(out));

        // A number from the list; the device's stable name is what is kept.
        QCOMPARE(run({"set", "3"}), 0);
        QCOMPARE(SerialControl::rememberedDevice(1), base + "USB10");
        QCOMPARE(run({"set", "2"}), 0);
        QCOMPARE(SerialControl::rememberedDevice(1), stable);
    }

    void setRemembersALinkAndTheListMarksIt() {
        Pty pty;
        const QString link = dev->path() + "/board";
        QVERIFY(QFile::link(pty.slavePath(), link));
        QCOMPARE(run({"set", link}), 0);
        QVERIFY2(out.contains("Port 1 is now " + link + "."), qPrintable(out));
        QCOMPARE(SerialControl::choiceFor(1).device, link);
        QCOMPARE(SerialControl::choiceFor(1).source, SerialControl::PortSource::Remembered);

        const QStringList fields = plainLineOf(link);
        QCOMPARE(fields.size(), 9);
        QCOMPARE(fields.at(7), QString("remembered"));
        QCOMPARE(fields.at(8), QString("ok"));
        QCOMPARE(run({}), 0);
        QVERIFY2(out.contains("Port 1 is " + link + " (remembered in " +
                              platform::SettingsBackend::filePath() + ")"),
                 qPrintable(out));
        QVERIFY(out.contains(link + "   <- port 1"));
        QCOMPARE(out.count("<- port 1"), 1);

        // The number the list shows chooses the same device again.
        QCOMPARE(run({"set", fields.at(0)}), 0);
        QCOMPARE(SerialControl::choiceFor(1).device, link);
    }

    void setStoresTheByIdNameAndFindsBareNames() {
        Pty adapter;
        SerialControl::setStableNameFolderForTesting(dev->path());
        const QString stable = dev->path() + "/usb-Quennart_Board_0042-if00-port0";
        QVERIFY(QFile::link(adapter.slavePath(), stable));
        QCOMPARE(run({"set", adapter.slavePath()}), 0);
        QCOMPARE(SerialControl::rememberedDevice(1), stable);
        QVERIFY2(out.contains("the stable name of " + adapter.slavePath()), qPrintable(out));
        QCOMPARE(plainLineOf(stable).value(7), QString("remembered"));

        QVERIFY(SerialControl::forgetDevice(1));
        QCOMPARE(run({"set", "usb-Quennart_Board_0042-if00-port0"}), 0);
        QCOMPARE(SerialControl::rememberedDevice(1), stable);
    }

    void setRefusesWhatIsNoDeviceAndKeepsTheChoice_data() {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << "/dev/domivox-no-such-tty"
                                 << "no such device";
        QTest::newRow("plain file") << "FILE"
                                    << "is not a serial device";
        QTest::newRow("number beyond the list") << "999"
                                                << "no device 999";
        QTest::newRow("number zero") << "0"
                                     << "no device 0";
    }
    void setRefusesWhatIsNoDeviceAndKeepsTheChoice() {
        QFETCH(QString, arg);
        QFETCH(QString, says);
        Pty pty;
        QVERIFY(SerialControl::rememberDevice(1, pty.slavePath()));
        if (arg == "FILE") {
            arg = dev->path() + "/notes.txt";
            QFile f(arg);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QCOMPARE(run({"set", arg}), 1);
        QVERIFY2(err.contains(says), qPrintable(err));
        QCOMPARE(SerialControl::rememberedDevice(1), pty.slavePath());
    }

    void clearForgetsAndTheVariableStillComesFirst() {
        Pty pty, other;
        QCOMPARE(run({"clear"}), 0);  // nothing to forget: no settings file appears
        QVERIFY(!QFile::exists(platform::SettingsBackend::filePath()));
        QCOMPARE(run({"set", pty.slavePath()}), 0);
        QVERIFY(!out.contains("DOMIVOX_COM1"));
        qputenv("DOMIVOX_COM1", other.slavePath().toLocal8Bit());
        QCOMPARE(plainLineOf(other.slavePath()).value(7), QString("variable"));
        QCOMPARE(plainLineOf(pty.slavePath()).value(7), QString());
        QCOMPARE(run({"set", pty.slavePath()}), 0);
        QVERIFY2(out.contains("DOMIVOX_COM1 is set"), qPrintable(out));
        qunsetenv("DOMIVOX_COM1");

        QCOMPARE(run({"clear"}), 0);
        QVERIFY2(out.contains("/dev/ttyS0"), qPrintable(out));
        QCOMPARE(SerialControl::choiceFor(1).source, SerialControl::PortSource::Default);
        QCOMPARE(run({"clear"}), 0);
    }

    void checkOpensAndClosesWritingNothing() {
        Pty pty;
        QVERIFY(SerialControl::rememberDevice(1, pty.slavePath()));
        QCOMPARE(run({"check"}), 0);
        QVERIFY2(out.contains("Port 1 (" + pty.slavePath() + ") opens at 2400 baud 8N1"),
                 qPrintable(out));
        QCOMPARE(pty.drain(), QByteArray());
        // Closed again: the program can have it.
        SerialControl comm;
        comm.setPortOpen(true);
    }

    void checkSaysWhyPortOneDoesNotOpen_data() {
        QTest::addColumn<QString>("why");
        QTest::addColumn<QStringList>("says");
        QTest::newRow("missing") << "missing" << QStringList{"no such device", "domivox-port set"};
        QTest::newRow("busy") << "busy"
                              << QStringList{"the device is busy", "Another program holds"};
    }
    void checkSaysWhyPortOneDoesNotOpen() {
        QFETCH(QString, why);
        QFETCH(QStringList, says);
        Pty pty;
        SerialControl holder;
        if (why == "missing") {
            qputenv("DOMIVOX_COM1", (dev->path() + "/ttyUSB9").toLocal8Bit());
        } else {
            qputenv("DOMIVOX_COM1", pty.slavePath().toLocal8Bit());
            holder.setPortOpen(true);
        }
        QCOMPARE(run({"check"}), 1);
        for (const QString& s : says)
            QVERIFY2(err.contains(s), qPrintable(err));
        QCOMPARE(pty.drain(), QByteArray());
    }

    void aUserOutsideTheDeviceGroupIsToldTheFix() {
        Pty pty;
        if (::geteuid() == 0) {
            // Run the tool as nobody against a terminal only root may open.
            QProcess tool;
            QProcessEnvironment env = toolEnvironment();
            env.insert("DOMIVOX_COM1", pty.slavePath());
            tool.setProcessEnvironment(env);
            tool.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                   DOMIVOX_PORT_BIN, "check"});
            if (!tool.waitForFinished(testsupport::allowMs(10000)) ||
                tool.exitStatus() != QProcess::NormalExit || tool.exitCode() >= 126)
                QSKIP("cannot run the tool as another user here");
            const QString said = QString::fromLocal8Bit(tool.readAllStandardError());
            QCOMPARE(tool.exitCode(), 1);
            QVERIFY2(said.contains("permission denied"), qPrintable(said));
            QVERIFY2(said.contains("sudo adduser \"$USER\" dialout"), qPrintable(said));
        } else {
            QVERIFY(QFile::setPermissions(pty.slavePath(), QFileDevice::ReadOwner));
            qputenv("DOMIVOX_COM1", pty.slavePath().toLocal8Bit());
            QCOMPARE(run({"check"}), 1);
            QVERIFY2(err.contains("sudo adduser \"$USER\" dialout"), qPrintable(err));
        }
    }

    void theInstalledCommandKeepsTheChoiceForTheProgram() {
        Pty pty;
        const QString link = dev->path() + "/board";
        QVERIFY(QFile::link(pty.slavePath(), link));
        QProcess tool;
        tool.setProcessEnvironment(toolEnvironment());
        tool.start(DOMIVOX_PORT_BIN, {"set", link});
        QVERIFY(tool.waitForFinished(testsupport::allowMs(10000)));
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(SerialControl::choiceFor(1).device, link);

        tool.start(DOMIVOX_PORT_BIN, {"frob"});
        QVERIFY(tool.waitForFinished(testsupport::allowMs(10000)));
        QCOMPARE(tool.exitCode(), 2);
    }
};

QTEST_MAIN(TestPortTool)
#include "tst_porttool.moc"
