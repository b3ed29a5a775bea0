// The board firmware, run in an AVR emulator, against the real panel: each command the panel
// can send must move exactly its own relay pin to the right level, and nothing else must move.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "../support/TestSupport.h"
#include "mainwindow/Form1.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/WindowRegistry.h"
#include "remote/internetsettings.h"
#include "schedule/frmTimer.h"
#include "store/Module1.h"
#include "support/HttpTestServer.h"

using mainwindow::Form1;
using remote::internetsettings;
using schedule::frmTimer;

using platform::WindowRegistry;
using testsupport::allowMs;

namespace {

#ifdef DOMIVOX_BOARD_EMULATOR
QString firmware(const char* variant) {
    // The proof that this test catches a miswired firmware runs it against another build.
    const QByteArray chosen = qgetenv("DOMIVOX_FIRMWARE_ELF");
    if (!chosen.isEmpty() && QByteArray(variant) == "default")
        return QString::fromLocal8Bit(chosen);
    return QStringLiteral(DOMIVOX_FIRMWARE_DIR "/%1.elf").arg(QLatin1String(variant));
}
#endif

// Device n hangs on Arduino pin D(n+1), port D bit n+1.
QString devicePin(int n) {
    return QStringLiteral("D%1").arg(n + 1);
}

// The board in the emulator, seen through the lines the emulator prints.
class Board {
public:
    explicit Board(const QString& elf) {
#ifdef DOMIVOX_BOARD_EMULATOR
        // simavr's own warnings go where the test's go, never into a pipe nobody empties.
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&proc_, &QProcess::readyReadStandardOutput, &proc_, [this] { take(); });
        proc_.start(QStringLiteral(DOMIVOX_BOARD_EMULATOR), {elf});
#else
        Q_UNUSED(elf);
#endif
    }
    ~Board() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.write("quit\n");
            if (!proc_.waitForFinished(allowMs(3000)))
                proc_.kill();
            proc_.waitForFinished();
        }
    }

    // The emulator is up and the firmware has set its pins after the first reset.
    bool started() {
        const bool up = waitFor(
            [this] {
                for (const char* pin : {"D1", "D2", "D3", "D4", "D5", "D6", "B5"})
                    if (level(pin) != '0' && level(pin) != '1')
                        return false;
                return !pty_.isEmpty();
            },
            5000);
        takeChanges();
        return up;
    }
    QString pty() const {
        return pty_;
    }

    void send(const char* command) {
        proc_.write(command);
        proc_.write("\n");
    }
    // Every byte the terminal passed on has been taken in and handled.
    bool sync() {
        const int before = synced_;
        send("sync");
        return waitFor([&] { return synced_ > before; }, 5000);
    }
    bool waitFor(const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > allowMs(ms) || proc_.state() == QProcess::NotRunning)
                return done();
            proc_.waitForReadyRead(10);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    // The pin changes since the last call, "D3=0" each, in order.
    QStringList takeChanges() {
        QStringList got = changes_;
        changes_.clear();
        return got;
    }
    // Device pin changes only, the status LED's left out.
    QStringList takeDeviceChanges() {
        QStringList got = takeChanges();
        got.removeIf([](const QString& c) { return c.startsWith("B5="); });
        return got;
    }
    char level(const QString& pin) const {
        return levels_.value(pin, '?');
    }
    // The cycles between the last reset and the last change of `pin`.
    qint64 cyclesToLastChange(const QString& pin) const {
        return lastCycle_.value(pin, -1);
    }

    QStringList resets() const {
        return resets_;
    }
    QStringList eepromWrites() const {
        return eeWrites_;
    }
    int cuts() const {
        return cuts_;
    }
    // Feeds `letters` changes back to back (see the emulator's "burst") and waits for them.
    bool burst(int letters) {
        const int before = bursts_;
        send(QByteArray("burst ") + QByteArray::number(letters));
        return waitFor([&] { return bursts_ > before; }, 30000);
    }
    // Resets the board the given way once it has handled what came before, and waits until
    // it is up again.
    bool reset(const char* how) {
        const int before = resets_.size();
        if (!sync())
            return false;
        send(how);
        return waitFor([&] { return resets_.size() > before; }, 3000) && sync();
    }
    QStringList transmitted() const {
        return tx_;
    }
    int fed() const {
        return fed_;
    }
    QString ask(const char* what) {
        answers_.remove(what);
        send(what);
        waitFor([&] { return answers_.contains(what); }, 5000);
        return answers_.value(what);
    }

private:
    void take() {
        while (proc_.canReadLine()) {
            const QString line = QString::fromLatin1(proc_.readLine()).trimmed();
            const QStringList w = line.split(' ');
            const QString kind = w.value(0);
            if (kind == "pty") {
                pty_ = w.value(1);
            } else if (kind == "pin" && w.size() == 4) {
                levels_[w[1]] = w[2].at(0).toLatin1();
                lastCycle_[w[1]] = w[3].toLongLong();
                changes_ << w[1] + "=" + w[2];
            } else if (kind == "reset") {
                resets_ << w.value(1);
            } else if (kind == "eewrite") {
                eeWrites_ << w.mid(1).join(' ');
            } else if (kind == "cut") {
                ++cuts_;
            } else if (kind == "burst") {
                ++bursts_;
            } else if (kind == "tx") {
                tx_ << w.value(1);
            } else if (kind == "fed") {
                ++fed_;
            } else if (kind == "synced") {
                ++synced_;
            } else if (kind == "regs" || kind == "eeprom") {
                answers_[kind] = w.mid(1).join(' ');
            }
        }
    }

    QProcess proc_;
    QString pty_;
    QHash<QString, char> levels_;
    QHash<QString, qint64> lastCycle_;
    QStringList changes_, resets_, eeWrites_, tx_;
    QHash<QString, QString> answers_;
    int fed_ = 0;
    int synced_ = 0;
    int cuts_ = 0;
    int bursts_ = 0;
};

// A second writer on the board's terminal, for bytes the panel would never send.
class Injector {
public:
    explicit Injector(const QString& path) {
        fd_ = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_NOCTTY);
        if (fd_ < 0)
            return;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::cfsetspeed(&t, B2400);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~Injector() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool write(const QByteArray& bytes) {
        return fd_ >= 0 && ::write(fd_, bytes.constData(), bytes.size()) == bytes.size();
    }

private:
    int fd_ = -1;
};

}  // namespace

class TestFirmware : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<Board> board;
    char on = '0';  // the level that switches a relay on (active-low modules by default)
    char off = '1';

    // Starts the firmware and the panel on its terminal, as port 1.
    Form1* startPanel(const char* variant = "default") {
        if (!startBoard(variant))
            return nullptr;
        qputenv("DOMIVOX_COM1", board->pty().toLocal8Bit());
        Form1* f = WindowRegistry::show<Form1>();
        return f->MSComm1().PortOpen() ? f : nullptr;
    }
    bool startBoard(const char* variant) {
#ifdef DOMIVOX_BOARD_EMULATOR
        board = std::make_unique<Board>(firmware(variant));
#else
        Q_UNUSED(variant);
#endif
        return board->started();
    }
    // What `action` moved on the device pins, once the board has taken in the `bytes` letters
    // it makes the panel send and handled them.
    QStringList step(const std::function<void()>& action, int bytes, int ms = 3000) {
        const int fedBefore = board->fed();
        board->takeDeviceChanges();
        action();
        const bool arrived = board->waitFor([&] { return board->fed() >= fedBefore + bytes; }, ms);
        board->sync();
        QStringList got = board->takeDeviceChanges();
        if (!arrived || board->fed() != fedBefore + bytes)
            got << QStringLiteral("(%1 bytes reached the board, not %2)")
                       .arg(board->fed() - fedBefore)
                       .arg(bytes);
        return got;
    }
    QStringList click(Form1* f, int button) {
        return step([&] { f->Command(button)->click(); }, 1);
    }
    QString levelFor(int device, bool isOn) const {
        return devicePin(device) + "=" + QChar(isOn ? on : off);
    }
    // Checks every device pin at once: `states` has '1' for a device that must be ON.
    bool pinsShow(const QString& states) const {
        for (int n = 1; n <= 5; ++n)
            if (board->level(devicePin(n)) != (states[n - 1] == '1' ? on : off))
                return false;
        return true;
    }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        testsupport::storeFactoryNames();
        on = '0';
        off = '1';
    }
    void cleanup() {
        WindowRegistry::unloadAll();
        testsupport::flushDeletes();
        if (board)
            QCOMPARE(board->transmitted(), QStringList());  // the board never talks back
        board.reset();
        box.reset();
    }

    void everyResetLeavesEveryOutputOff_data() {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<char>("onLevel");
        QTest::newRow("active-low modules") << "default" << '0';
        QTest::newRow("active-high modules") << "activehigh" << '1';
    }
    void everyResetLeavesEveryOutputOff() {
        QFETCH(QString, variant);
        QFETCH(char, onLevel);
        on = onLevel;
        off = onLevel == '0' ? '1' : '0';
        QVERIFY(startBoard(variant.toLatin1().constData()));

        for (const char* reset : {"power", "wdt", "reset"}) {
            if (QByteArray(reset) != "power") {
                // Two devices ON, then the reset.
                Injector line(board->pty());
                QVERIFY(line.write("cg"));
                QVERIFY(board->waitFor([&] { return pinsShow("01010"); }, 3000));
                board->takeChanges();
                const int resetsBefore = board->resets().size();
                board->send(reset);
                QVERIFY(
                    board->waitFor([&] { return board->resets().size() > resetsBefore; }, 3000));
                // A watchdog left running after its reset would reset the board again and again.
                QTest::qWait(allowMs(300));
                QCOMPARE(board->resets().size(), resetsBefore + 1);
                const bool byWatchdog = board->resets().last().mid(6).toInt(nullptr, 16) & 0x08;
                QCOMPARE(byWatchdog, QByteArray(reset) == "wdt");
            }
            QVERIFY2(pinsShow("00000"), reset);
            for (int n = 1; n <= 5; ++n) {
                // Driven OFF within a few instructions of the reset, before the C runtime runs.
                const qint64 cycles = board->cyclesToLastChange(devicePin(n));
                QVERIFY2(cycles >= 0 && cycles <= 32, qPrintable(QString::number(cycles)));
            }
            QCOMPARE(board->level("D1"), '1');  // the serial out pin idles high
            QCOMPARE(board->level("D0"), 'p');  // the serial in pin never floats
            QCOMPARE(board->level("B5"), '0');  // the status LED is dark
            const QString regs = board->ask("regs");
            QVERIFY2(regs.contains("mcusr=0x00 wdtcsr=0x00"), qPrintable(regs));
        }
    }

    void theSerialPortRunsAt2400_8N1AtBothEnds() {
        QVERIFY(startPanel());
        const QString regs = board->ask("regs");
        QRegularExpressionMatch m = QRegularExpression(
                                        "ubrr=(\\d+) u2x=(\\d) ucsr0b=0x(\\w+) ucsr0c=0x(\\w+) "
                                        ".* line=(\\S+)")
                                        .match(regs);
        QVERIFY2(m.hasMatch(), qPrintable(regs));
        const double ubrr = m.captured(1).toInt();
        const double divisor = m.captured(2) == "1" ? 8 : 16;
        const double baud = 16e6 / (divisor * (ubrr + 1));
        QVERIFY2(qAbs(baud - 2400) / 2400 < 0.01, qPrintable(QString::number(baud)));
        const int b = m.captured(3).toInt(nullptr, 16);
        const int c = m.captured(4).toInt(nullptr, 16);
        QVERIFY(b & 0x10);         // receiver on
        QVERIFY(b & 0x80);         // woken by each byte
        QVERIFY(!(b & 0x08));      // transmitter off: nothing can ever be sent
        QVERIFY(!(b & 0x04));      // not 9 data bits
        QCOMPARE(c & 0xFE, 0x06);  // asynchronous, no parity, 1 stop bit, 8 data bits
        QCOMPARE(m.captured(5), QString("2400-8N1"));  // as the panel set its end
    }

    void theTenButtonsDriveTheirOwnPins() {
        Form1* f = startPanel();
        QVERIFY(f);
        board->takeChanges();
        // Every ON, every OFF, ON again in another order, and a repeat that changes nothing.
        const int order[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 5, 3, 1, 4, 2, 8, 8, 10, 7, 9, 6};
        QStringList devices = {"0", "0", "0", "0", "0"};
        for (int button : order) {
            const int device = button <= 5 ? button : button - 5;
            const bool isOn = button <= 5;
            const bool changes = devices[device - 1] != (isOn ? "1" : "0");
            devices[device - 1] = isOn ? "1" : "0";
            QVERIFY(board->waitFor([&] { return board->level("B5") == '0'; }, 1000));
            const QStringList got = click(f, button);
            QCOMPARE(board->level("B5"), '1');  // the status LED lights with every letter
            const QStringList want = changes ? QStringList{levelFor(device, isOn)} : QStringList();
            QVERIFY2(got == want, qPrintable(QString("Command%1 moved %2, wanted %3")
                                                 .arg(button)
                                                 .arg(got.join(' '), want.join(' '))));
            QVERIFY(pinsShow(devices.join("")));
        }
    }

    void junkOnTheLineChangesNothing() {
        Form1* f = startPanel();
        QVERIFY(f);
        QCOMPARE(click(f, 2), QStringList{levelFor(2, true)});
        QVERIFY(board->waitFor([&] { return board->level("B5") == '0'; }, 1000));
        board->takeChanges();
        // Upper case, letters past "j", digits, line endings, a letter with its top bit set,
        // NUL and the bytes either side of "a".."j".
        static const char kJunk[] = "AJZkz`{01\r\n \x00\xe1\xea\xff\x7f";
        const QByteArray junk(kJunk, sizeof kJunk - 1);
        const int fedBefore = board->fed();
        Injector line(board->pty());
        QVERIFY(line.write(junk));
        QVERIFY(board->waitFor([&] { return board->fed() == fedBefore + junk.size(); }, 5000));
        QVERIFY(board->sync());
        QCOMPARE(board->takeChanges(), QStringList());  // the status LED included
        QVERIFY(pinsShow("01000"));
        // And the board still listens.
        QCOMPARE(click(f, 7), QStringList{levelFor(2, false)});
    }

    void aCountdownPatternReachesThePins() {
        Form1* f = startPanel();
        QVERIFY(f);
        QCOMPARE(click(f, 1), QStringList{levelFor(1, true)});
        QCOMPARE(click(f, 4), QStringList{levelFor(4, true)});
        f->findChild<QAction*>("tmfunction")->trigger();
        frmTimer* w = WindowRegistry::find<frmTimer>();
        QVERIFY(w);
        // Device 1 OFF, 2 ON, 3 left alone, 4 OFF, 5 ON.
        const char* pattern[] = {"0", "1", "x", "0", "1"};
        for (int k = 1; k <= 5; ++k)
            w->Text(k)->setText(pattern[k - 1]);
        w->Text12()->end(false);
        w->Text12()->insert("2");
        // Four letters, a quarter of a second apart: device 3's "x" sends none.
        const QStringList got = step([&] { w->cmdStart()->click(); }, 4, 10000);
        QCOMPARE(got, QStringList({levelFor(1, false), levelFor(2, true), levelFor(4, false),
                                   levelFor(5, true)}));
        QVERIFY(pinsShow("01001"));
    }

    void aRemoteTitleSwitchesDevice1() {
        testhttp::Server server;
        server.setTitle("/remote", "00000");
        Module1::WriteSetting(Setting::Address, server.url("/remote"));
        Module1::WriteSetting(Setting::timer1, "300");
        Form1* f = startPanel();
        QVERIFY(f);
        f->findChild<QAction*>("oncon")->trigger();
        QVERIFY(WindowRegistry::find<internetsettings>());
        // The first load may apply "0" to a device already OFF, which moves nothing.
        QTest::qWait(2000);
        QVERIFY(board->sync());
        QCOMPARE(board->takeDeviceChanges(), QStringList());
        QCOMPARE(step([&] { server.setTitle("/remote", "10000"); }, 1, 10000),
                 QStringList{levelFor(1, true)});
        // Only the first character acts.
        QCOMPARE(step([&] { server.setTitle("/remote", "01111"); }, 1, 10000),
                 QStringList{levelFor(1, false)});
        QVERIFY(pinsShow("00000"));
    }

    void aResetRestoresTheStatesOnlyWithTheOption_data() {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QString>("afterReset");
        QTest::addColumn<bool>("writes");
        QTest::newRow("restore off") << "default"
                                     << "00000" << false;
        QTest::newRow("restore on") << "restore"
                                    << "01001" << true;
    }
    void aResetRestoresTheStatesOnlyWithTheOption() {
        QFETCH(QString, variant);
        QFETCH(QString, afterReset);
        QFETCH(bool, writes);
        Form1* f = startPanel(variant.toLatin1().constData());
        QVERIFY(f);
        QCOMPARE(click(f, 2), QStringList{levelFor(2, true)});
        QCOMPARE(click(f, 5), QStringList{levelFor(5, true)});
        const QStringList written = board->eepromWrites();
        QCOMPARE(!written.isEmpty(), writes);
        QCOMPARE(click(f, 2), QStringList());
        QCOMPARE(click(f, 5), QStringList());
        QVERIFY(pinsShow("01001"));
        // Written only when a state changed: the repeated commands wrote nothing.
        QCOMPARE(board->eepromWrites(), written);

        for (const char* reset : {"reset", "wdt"}) {
            board->takeChanges();
            QVERIFY(board->reset(reset));
            QVERIFY2(pinsShow(afterReset), reset);
            QCOMPARE(board->eepromWrites(), written);  // restoring writes nothing
        }
        // The panel's next command still counts from what the pins show.
        QCOMPARE(click(f, 7),
                 afterReset[1] == '1' ? QStringList{levelFor(2, false)} : QStringList());
    }

    // What an earlier sketch may have left in the EEPROM of a reused board.
    void foreignEepromReadsAsNothingSaved_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("one byte at address 0") << QByteArray(1, 0x12);
        QTest::newRow("zeros") << QByteArray(1024, 0);
        QTest::newRow("text") << QByteArray("SSID=home;KEY=0123456789;MODE=2\x01\x02\x03");
        QByteArray noise(1024, 0);
        QRandomGenerator rng(32);
        for (char& c : noise)
            c = char(rng.bounded(256));
        QTest::newRow("random bytes") << noise;
    }
    void foreignEepromReadsAsNothingSaved() {
        QFETCH(QByteArray, content);
        QVERIFY(startBoard("restore"));
        board->send("poke 0 " + content.toHex(' '));
        QVERIFY(board->reset("reset"));
        QVERIFY(pinsShow("00000"));
        // Saving works over it.
        Injector line(board->pty());
        QVERIFY(line.write("ci"));
        QVERIFY(board->waitFor([&] { return pinsShow("01001"); }, 3000));
        QVERIFY(board->reset("reset"));
        QVERIFY(pinsShow("01001"));
    }

    // The power fails during the kth cell the change to "11001" programs.
    void aTornWriteRestoresThePreviousStateOrNothing_data() {
        QTest::addColumn<int>("changesBefore");
        QTest::addColumn<int>("cell");
        QTest::newRow("first lap, first cell") << 0 << 1;
        QTest::newRow("first lap, last cell") << 0 << 4;
        for (int k = 1; k <= 4; ++k)
            QTest::addRow("ring gone round twice, cell %d", k) << 520 << k;
    }
    void aTornWriteRestoresThePreviousStateOrNothing() {
        QFETCH(int, changesBefore);
        QFETCH(int, cell);
        QVERIFY(startBoard("restore"));
        QVERIFY(board->burst(changesBefore));  // leaves every device OFF
        Injector line(board->pty());
        QVERIFY(line.write("ci"));
        QVERIFY(board->waitFor([&] { return pinsShow("01001"); }, 3000));
        QVERIFY(board->sync());
        board->send(QByteArray("cut ") + QByteArray::number(cell));
        QVERIFY(board->sync());
        QVERIFY(line.write("a"));
        QVERIFY(board->waitFor([&] { return board->cuts() == 1; }, 3000));
        QVERIFY(board->sync());
        QVERIFY2(pinsShow("01001") || pinsShow("00000"),
                 qPrintable(board->takeChanges().join(' ')));
    }

    void tenThousandChangesWearEveryCellLittle() {
        QVERIFY(startBoard("restore"));
        // 10 002 letters: each switches one device, and the last two leave devices 1 and 2 ON.
        QVERIFY(board->burst(10002));
        QHash<QString, int> perCell;
        for (const QString& w : board->eepromWrites())
            ++perCell[w.section(' ', 0, 0)];
        int most = 0;
        for (int n : std::as_const(perCell))
            most = qMax(most, n);
        // Spread evenly over the 1 KiB, each cell takes one write in 256 changes at most.
        QVERIFY2(most <= 40, qPrintable(QString::number(most)));
        QVERIFY(board->reset("reset"));
        QVERIFY(pinsShow("11000"));
    }

    void anUnpluggedLineStaysQuiet() {
        QVERIFY(startBoard("default"));
        board->takeChanges();
        board->send("unplug");
        QTest::qWait(allowMs(500));
        QVERIFY(board->sync());
        QCOMPARE(board->takeChanges(), QStringList());  // no letter: no relay, no LED
    }

    void aByteWithAnErrorFlag_data() {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<bool>("counts");
        QTest::newRow("overrun: a later byte was lost") << "08" << true;
        QTest::newRow("framing error") << "10" << false;
        QTest::newRow("parity error") << "04" << false;
    }
    void aByteWithAnErrorFlag() {
        QFETCH(QString, flags);
        QFETCH(bool, counts);
        QVERIFY(startBoard("default"));
        board->send(("flags " + flags).toLatin1());
        QVERIFY(board->sync());  // taken before the byte
        Injector line(board->pty());
        QVERIFY(line.write("c"));
        QVERIFY(board->waitFor([&] { return board->fed() == 1; }, 3000));
        QVERIFY(board->sync());
        QVERIFY(pinsShow(counts ? "01000" : "00000"));
        QVERIFY(line.write("e"));  // and the next byte is clean again
        QVERIFY(board->waitFor([&] { return pinsShow(counts ? "01100" : "00100"); }, 3000));
    }

    void twoDevicesOnOnePinDoNotBuild_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("builds");
        QTest::newRow("device 4 on device 1's pin") << "-DDEVICE4_BIT=PD2" << false;
        QTest::newRow("devices 3 and 4 on PD5") << "-DDEVICE3_BIT=PD5" << false;
        QTest::newRow("device 3 moved to a free pin") << "-DDEVICE3_BIT=PD7" << true;
    }
    void twoDevicesOnOnePinDoNotBuild() {
#ifdef DOMIVOX_BOARD_EMULATOR
        QFETCH(QString, option);
        QFETCH(bool, builds);
        QTemporaryDir out;
        QProcess make;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"MAKEFLAGS", "MFLAGS", "MAKELEVEL"})
            env.remove(v);
        make.setProcessEnvironment(env);
        make.setProcessChannelMode(QProcess::MergedChannels);
        make.start(DOMIVOX_MAKE_PROGRAM, {"-s", "-C", DOMIVOX_FIRMWARE_SOURCE, "OUT=" + out.path(),
                                          "CC=" DOMIVOX_AVR_GCC_PROGRAM, "EXTRA=" + option});
        QVERIFY(make.waitForFinished(allowMs(60000)));
        const QString said = QString::fromLocal8Bit(make.readAll());
        QCOMPARE(make.exitCode() == 0, builds);
        QCOMPARE(said.contains("two devices share one pin"), !builds);
#endif
    }
};

int main(int argc, char** argv) {
#ifndef DOMIVOX_BOARD_EMULATOR
    std::printf("SKIP: %s\n", DOMIVOX_FIRMWARE_SKIP);
    (void)argc;
    (void)argv;
    return 77;
#else
    QApplication app(argc, argv);
    TestFirmware t;
    return QTest::qExec(&t, argc, argv);
#endif
}

#include "tst_firmware.moc"
