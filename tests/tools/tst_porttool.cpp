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
        QTest::newRow("a device that is no terminal") << "/dev/null"
                                                      << "/dev/null is not a serial device";
        QTest::newRow("a terminal that is no serial port") << "/dev/tty"
                                                           << "/dev/tty is not a serial device";
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

    // What sysfs tells of a tty decides whether it may be port 1; /dev/null stands in for the
    // device node, with a made-up sysfs entry of its own name and numbers.
    void setTakesOnlyATtyWithASerialPortBehindIt_data() {
        QTest::addColumn<bool>("device");
        QTest::addColumn<bool>("driver");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<bool>("taken");
        QTest::newRow("USB adapter") << true << true << QByteArray() << true;
        QTest::newRow("built-in port with a chip") << true << true << QByteArray("4") << true;
        QTest::newRow("built-in port without a chip") << true << true << QByteArray("0") << false;
        QTest::newRow("no driver") << true << false << QByteArray() << false;
        QTest::newRow("virtual console") << false << false << QByteArray() << false;
    }
    void setTakesOnlyATtyWithASerialPortBehindIt() {
        QFETCH(bool, device);
        QFETCH(bool, driver);
        QFETCH(QByteArray, type);
        QFETCH(bool, taken);
        const QString sys = dev->path() + "/sys", entry = sys + "/class/tty/null";
        QVERIFY(QDir().mkpath(entry + "/port"));
        QVERIFY(testsupport::writeFile(entry + "/dev", "1:3\n"));
        if (!type.isEmpty())
            QVERIFY(testsupport::writeFile(entry + "/type", type + "\n"));
        if (device)
            QVERIFY(QFile::link(entry + "/port", entry + "/device"));
        if (driver)
            QVERIFY(QFile::link(sys, entry + "/port/driver"));
        PortTool::setSystemFoldersForTesting(sys, {});
        const int status = run({"set", "/dev/null"});
        PortTool::setSystemFoldersForTesting({}, {});
        QCOMPARE(status, taken ? 0 : 1);
        QCOMPARE(SerialControl::rememberedDevice(1), taken ? "/dev/null" : "");
    }

    // The variable names port 1, so only a command that changes the file needs to read it.
    void theVariableLeavesTheFileToSetAndClear_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("list") << QStringList{} << 0;
        QTest::newRow("plain") << QStringList{"--plain"} << 0;
        QTest::newRow("check") << QStringList{"check"} << 0;
        QTest::newRow("set") << QStringList{"set", "PTY"} << 1;
        QTest::newRow("clear") << QStringList{"clear"} << 1;
    }
    void theVariableLeavesTheFileToSetAndClear() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        Pty pty;
        QVERIFY(QDir().mkpath(platform::SettingsBackend::filePath()));  // a folder: unreadable
        qputenv("DOMIVOX_COM1", pty.slavePath().toLocal8Bit());
        args.replaceInStrings("PTY", pty.slavePath());
        QCOMPARE(run(args), status);
        QVERIFY2(status == 0 ? err.isEmpty() : err.contains("it is not a file"), qPrintable(err));
    }

    // A full disk under the output: the command's words are lost, so it must not report success.
    void aCommandFailsWhenItsOutputIsLost_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("list") << QStringList{};
        QTest::newRow("help") << QStringList{"--help"};
        QTest::newRow("set") << QStringList{"set", "PTY"};
    }
    void aCommandFailsWhenItsOutputIsLost() {
        QFETCH(QStringList, args);
        Pty pty;
        args.replaceInStrings("PTY", pty.slavePath());
        QProcess tool;
        tool.setProcessEnvironment(toolEnvironment());
        tool.setStandardOutputFile("/dev/full");
        tool.start(DOMIVOX_PORT_BIN, args);
        QVERIFY(tool.waitForFinished(testsupport::allowMs(10000)));
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(tool.readAllStandardError().contains("output could not be written"));
    }

    // Cron, systemd units and bare systems run the tool in the C locale; its standard error is
    // for its own words, not Qt's about the locale.
    void theCLocaleLeavesStandardErrorQuiet_data() {
        QTest::addColumn<QString>("variable");
        QTest::newRow("LC_ALL=C") << "LC_ALL";
        QTest::newRow("LANG=C") << "LANG";
        QTest::newRow("no locale set") << QString();
    }
    void theCLocaleLeavesStandardErrorQuiet() {
        QFETCH(QString, variable);
        QProcessEnvironment env = toolEnvironment();
        for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG", "LANGUAGE"})
            env.remove(name);
        if (!variable.isEmpty())
            env.insert(variable, "C");
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start(DOMIVOX_PORT_BIN, {"--help"});
        QVERIFY(tool.waitForFinished(testsupport::allowMs(10000)));
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(tool.readAllStandardError(), QByteArray());
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

    // A settings file that is there but cannot be read or replaced: every command fails with the
    // reason and changes nothing. (Made so that root, who reads any file, meets it too.)
    void everyCommandFailsWhenTheSettingsCannotBeUsed_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        const QString loop = "Too many levels of symbolic links";
        const QString folder = "it is not a file";
        for (const QStringList& args : QList<QStringList>{
                 {}, {"--plain"}, {"set", "PTY"}, {"set", "1"}, {"clear"}, {"check"}}) {
            const QString cmd = args.isEmpty() ? QString("list") : args.join(' ');
            QTest::newRow(qPrintable("link loop: " + cmd)) << "loop" << args << loop;
            QTest::newRow(qPrintable("a folder: " + cmd)) << "folder" << args << folder;
        }
        QTest::newRow("cannot replace: clear")
            << "unwritable" << QStringList{"clear"} << "Is a directory; nothing changed";
        QTest::newRow("cannot replace: set")
            << "unwritable" << QStringList{"set", "PTY"} << "could not be saved";
    }
    void everyCommandFailsWhenTheSettingsCannotBeUsed() {
        QFETCH(QString, damage);
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        Pty pty, other;
        scanned = {PortTool::Device{other.slavePath(), {}, {}, {}, {}, {}, false}};
        const QString file = platform::SettingsBackend::filePath();
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        if (damage == "loop") {
            QVERIFY(QFile::link(file, file));
        } else if (damage == "folder") {
            QVERIFY(QDir().mkpath(file));
        } else {
            QVERIFY(SerialControl::rememberDevice(1, pty.slavePath()));
            QVERIFY(QDir().mkpath(file + ".saving"));
        }
        args.replaceInStrings("PTY", pty.slavePath());
        QCOMPARE(run(args), 1);
        QVERIFY2(err.contains(says), qPrintable(err));
        QVERIFY2(!out.contains("forgotten") && !out.contains("opens at"), qPrintable(out));
        if (damage == "unwritable")
            QCOMPARE(SerialControl::rememberedDevice(1), pty.slavePath());
        QCOMPARE(pty.drain(), QByteArray());
    }

    // A made-up sysfs and udev database: what the list shows is read from them alone.
    void theSystemScanReadsSysfsAndUdev_data() {
        QTest::addColumn<QString>("udev");  // "yes": udev's records are there
        QTest::newRow("with udev") << "yes";
        QTest::newRow("without udev") << "no";
    }
    void theSystemScanReadsSysfsAndUdev() {
        QFETCH(QString, udev);
        const QString sys = dev->path() + "/sys", data = dev->path() + "/udev";
        const auto file = [](const QString& path, const QByteArray& text) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text + "\n");
        };
        const auto tty = [&](const QString& name, const QString& device, const QString& driver,
                             const QByteArray& type, const QByteArray& majorMinor) {
            const QString entry = sys + "/class/tty/" + name;
            QVERIFY(QDir().mkpath(entry));
            file(entry + "/dev", majorMinor);
            if (!type.isEmpty())
                file(entry + "/type", type);
            if (device.isEmpty())
                return;
            QVERIFY(QDir().mkpath(sys + device));
            QVERIFY(QFile::link(sys + device, entry + "/device"));
            if (!driver.isEmpty()) {
                QVERIFY(QDir().mkpath(sys + "/bus/drivers/" + driver));
                QVERIFY(QFile::link(sys + "/bus/drivers/" + driver, sys + device + "/driver"));
            }
        };
        const QString usb = "/devices/pci0/usb1/1-2";
        file(sys + usb + "/idVendor", "0403");
        file(sys + usb + "/idProduct", "6001");
        file(sys + usb + "/manufacturer", "FTDI");
        file(sys + usb + "/product", "FT232R USB UART");
        file(sys + usb + "/serial", "A10K2");
        tty("ttyUSB0", usb + "/1-2:1.0/ttyUSB0", "ftdi_sio", "", "188:0");
        tty("ttyACM0", "/devices/odd/acm0", "cdc_acm", "", "166:0");
        tty("ttyS0", "/devices/platform/serial8250", "serial8250", "4", "4:64");
        tty("ttyS1", "/devices/platform/serial8250", "", "0", "4:65");
        tty("ttyS2", "/devices/platform/serial8250b", "serial8250", "", "4:66");
        tty("tty0", "", "", "", "4:0");
        if (udev == "yes")
            file(data + "/c166:0",
                 "S:serial/by-id/usb-Arduino\nE:ID_VENDOR_ID=2341\nE:ID_MODEL_ID=0043\n"
                 "E:ID_VENDOR_FROM_DATABASE=Arduino SA\nE:ID_MODEL_FROM_DATABASE=Uno R3\n"
                 "E:ID_SERIAL_SHORT=7563\n");
        PortTool::setSystemFoldersForTesting(sys, data);
        const QList<PortTool::Device> found = PortTool::systemDevices();
        PortTool::setSystemFoldersForTesting({}, {});
        QMap<QString, QStringList> byPath;
        for (const PortTool::Device& d : found)
            byPath[d.path] = {d.usbId, d.manufacturer, d.description, d.serialNumber};
        QCOMPARE(byPath.keys(),
                 (QStringList{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyUSB0"}));
        QCOMPARE(byPath["/dev/ttyUSB0"],
                 (QStringList{"0403:6001", "FTDI", "FT232R USB UART", "A10K2"}));
        QCOMPARE(byPath["/dev/ttyACM0"],
                 (udev == "yes" ? QStringList{"2341:0043", "Arduino SA", "Uno R3", "7563"}
                                : QStringList{"", "", "cdc_acm", ""}));
        QCOMPARE(byPath["/dev/ttyS0"], (QStringList{"", "", "serial8250", ""}));
        QVERIFY2(byPath["/dev/ttyS2"].value(2).contains("unknown"),
                 qPrintable(byPath["/dev/ttyS2"].join('|')));
    }

    // LeakSanitizer stops the process with ptrace at exit, which it cannot do under strace;
    // in a sanitized build the traced tool would fail for that alone.
    static void leakCheckOffUnderTracer(QProcessEnvironment& env) {
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    }

    // The list and set-by-number on this machine, watched by strace: no device is opened,
    // whatever sysfs holds here (built-in ports included) and with or without udev.
    void theListNeverOpensADevice_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("list") << QStringList{};
        QTest::newRow("plain") << QStringList{"--plain"};
        QTest::newRow("set by number") << QStringList{"set", "1"};
    }
    void theListNeverOpensADevice() {
        QFETCH(QStringList, args);
        if (QStandardPaths::findExecutable("strace").isEmpty())
            QSKIP("strace is not installed");
        Pty pty;
        QProcess tool;
        QProcessEnvironment env = toolEnvironment();
        env.insert("DOMIVOX_COM1", pty.slavePath());
        leakCheckOffUnderTracer(env);
        tool.setProcessEnvironment(env);
        const QString trace = dev->path() + "/trace";
        tool.start("strace", QStringList{"-f", "-qq", "-e", "trace=openat,open,creat", "-o", trace,
                                         DOMIVOX_PORT_BIN} +
                                 args);
        QVERIFY(tool.waitForFinished(testsupport::allowMs(20000)));
        QFile log(trace);
        if (!log.open(QIODevice::ReadOnly) || log.size() == 0)
            QSKIP("strace cannot trace here (no ptrace permission)");
        QCOMPARE(tool.exitCode(), 0);
        const QString opened = QString::fromLocal8Bit(log.readAll());
        QVERIFY2(opened.contains("/sys/class/tty"), qPrintable(opened.left(2000)));
        const QRegularExpression device(
            "open(at)?\\([^\"]*\"(/dev/(tty|pts/|serial/|cu|rfcomm|ircomm)[^\"]*|" +
            QRegularExpression::escape(pty.slavePath()) + ")\"([^)]*)\\)");
        for (const QString& line : opened.split('\n')) {
            const QRegularExpressionMatch m = device.match(line);
            QVERIFY2(!m.hasMatch() || m.captured(4).contains("O_DIRECTORY"), qPrintable(line));
        }
        QCOMPARE(pty.drain(), QByteArray());
    }

    // check, watched by strace on a pseudo-terminal: the first modem-line request after the
    // opening lowers RTS, before DTR is set; nothing ever raises RTS; both go down before the
    // close. (A pseudo-terminal has no modem lines, so the requests fail there; what is asked
    // and in what order is what this shows.)
    void checkLowersRtsFirstAndNeverRaisesIt() {
        if (QStandardPaths::findExecutable("strace").isEmpty())
            QSKIP("strace is not installed");
        Pty pty;
        QProcess tool;
        QProcessEnvironment env = toolEnvironment();
        env.insert("DOMIVOX_COM1", pty.slavePath());
        leakCheckOffUnderTracer(env);
        tool.setProcessEnvironment(env);
        const QString trace = dev->path() + "/trace";
        tool.start("strace", {"-f", "-qq", "-e", "trace=openat,ioctl,close,write", "-o", trace,
                              DOMIVOX_PORT_BIN, "check"});
        QVERIFY(tool.waitForFinished(testsupport::allowMs(20000)));
        QFile log(trace);
        if (!log.open(QIODevice::ReadOnly) || log.size() == 0)
            QSKIP("strace cannot trace here (no ptrace permission)");
        QCOMPARE(tool.exitCode(), 0);
        const QString said = QString::fromLocal8Bit(tool.readAllStandardOutput());
        QVERIFY2(said.contains("no DTR and RTS lines"), qPrintable(said));
        QStringList calls;  // the requests on the device's descriptor, in order
        QString fd;
        for (const QString& line : QString::fromLocal8Bit(log.readAll()).split('\n')) {
            const QRegularExpressionMatch open =
                QRegularExpression("openat\\([^\"]*\"" +
                                   QRegularExpression::escape(pty.slavePath()) + "\".*= (\\d+)$")
                    .match(line);
            if (open.hasMatch()) {
                fd = open.captured(1);
                calls << "open";
                continue;
            }
            if (fd.isEmpty())
                continue;
            const QRegularExpressionMatch call =
                QRegularExpression("(ioctl|close|write)\\(" + fd + "(?:, ([A-Z0-9_]+))?(.*)")
                    .match(line);
            if (!call.hasMatch())
                continue;
            calls << call.captured(1) + " " + call.captured(2) + call.captured(3).left(24);
            if (call.captured(1) == "close")
                break;
        }
        const auto firstIndex = [&calls](const QString& start) {
            for (qsizetype i = 0; i < calls.size(); ++i)
                if (calls[i].startsWith(start))
                    return i;
            return qsizetype(-1);
        };
        const QString all = calls.join('\n');
        const qsizetype rtsDown = firstIndex("ioctl TIOCMBIC, [TIOCM_RTS]");
        const qsizetype dtrUp = firstIndex("ioctl TIOCMBIS, [TIOCM_DTR]");
        QVERIFY2(calls.value(0) == "open" && rtsDown > 0 && dtrUp > rtsDown, qPrintable(all));
        // Reading the lines' state before a change is all that may come first.
        for (qsizetype i = 1; i < rtsDown; ++i)
            QVERIFY2(!calls[i].startsWith("ioctl TIOCM") || calls[i].startsWith("ioctl TIOCMGET"),
                     qPrintable(all));
        QVERIFY2(!all.contains(QRegularExpression("TIOCMBIS, \\[[^\\]]*RTS|TIOCMSET|write")),
                 qPrintable(all));
        // Down again before the close.
        const qsizetype close = firstIndex("close");
        const QStringList beforeClose = calls.mid(dtrUp + 1, close - dtrUp - 1);
        QVERIFY2(close > 0 && beforeClose.filter("TIOCMBIC, [TIOCM_DTR]").size() == 1 &&
                     beforeClose.filter("TIOCMBIC, [TIOCM_RTS]").size() == 1,
                 qPrintable(all));
    }

    void checkOpensAndClosesWritingNothing() {
        Pty pty;
        QVERIFY(SerialControl::rememberDevice(1, pty.slavePath()));
        QCOMPARE(run({"check"}), 0);
        QVERIFY2(out.contains("Port 1 (" + pty.slavePath() + ") opens at 2400 baud 8N1"),
                 qPrintable(out));
        // The requests on the lines fail on a terminal that has none: no line "was lowered".
        QVERIFY2(out.contains("has no DTR and RTS lines") && !out.contains("lowered"),
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
        QTest::newRow("no serial device")
            << "null" << QStringList{"(/dev/null) is not a serial device", "DOMIVOX_COM1"};
    }
    void checkSaysWhyPortOneDoesNotOpen() {
        QFETCH(QString, why);
        QFETCH(QStringList, says);
        Pty pty;
        SerialControl holder;
        if (why == "missing") {
            qputenv("DOMIVOX_COM1", (dev->path() + "/ttyUSB9").toLocal8Bit());
        } else if (why == "null") {
            qputenv("DOMIVOX_COM1", "/dev/null");
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
            // A settings folder nobody may use: one it cannot reach is a failure of its own.
            QTemporaryDir nobodysConfig;
            QVERIFY(QFile::setPermissions(nobodysConfig.path(), QFileDevice::Permissions(0x7777)));
            env.insert("XDG_CONFIG_HOME", nobodysConfig.path());
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
