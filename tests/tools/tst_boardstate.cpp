#include <termios.h>

#include <QtTest>

#include "BoardState.h"
#include "device/DeviceCommand.h"

using device::DeviceCommand;

class TestBoardState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The wire as the board's users wire it: written out letter by letter, not computed, so
    // that a decoder sharing a wrong formula with the panel still fails here.
    void everyCommandLetterDecodesToItsDeviceAndState_data() {
        QTest::addColumn<char>("letter");
        QTest::addColumn<int>("device");
        QTest::addColumn<bool>("on");
        QTest::addRow("a") << 'a' << 1 << true;
        QTest::addRow("b") << 'b' << 1 << false;
        QTest::addRow("c") << 'c' << 2 << true;
        QTest::addRow("d") << 'd' << 2 << false;
        QTest::addRow("e") << 'e' << 3 << true;
        QTest::addRow("f") << 'f' << 3 << false;
        QTest::addRow("g") << 'g' << 4 << true;
        QTest::addRow("h") << 'h' << 4 << false;
        QTest::addRow("i") << 'i' << 5 << true;
        QTest::addRow("j") << 'j' << 5 << false;
    }
    void everyCommandLetterDecodesToItsDeviceAndState() {
        QFETCH(char, letter);
        QFETCH(int, device);
        QFETCH(bool, on);
        BoardState board;
        const QDateTime t0 = QDateTime::currentDateTime();
        const auto e = board.feed(static_cast<unsigned char>(letter), t0);
        QCOMPARE(e.device, device);
        QCOMPARE(e.state, on ? BoardState::State::On : BoardState::State::Off);
        QCOMPARE(board.device(device).commands, 1);
        QCOMPARE(board.unknownBytes(), 0);
        // The panel sends that very letter for that device and state.
        QCOMPARE((DeviceCommand{device, on}.letter()), letter);
        for (int other = 1; other <= 5; ++other)
            if (other != device)
                QCOMPARE(board.device(other).state, BoardState::State::Unknown);
    }

    void theTableFollowsTheBytes() {
        BoardState board;
        const QDateTime t0 = QDateTime::fromString("2026-12-08T10:00:00.000", Qt::ISODateWithMs);
        const QByteArray stream("aaebz\nj", 7);
        for (int i = 0; i < stream.size(); ++i)
            board.feed(static_cast<unsigned char>(stream[i]), t0.addMSecs(i));
        QCOMPARE(board.device(1).state, BoardState::State::Off);  // a, a, then b
        QCOMPARE(board.device(1).commands, 3);
        QCOMPARE(board.device(1).last, t0.addMSecs(3));
        QCOMPARE(board.device(3).state, BoardState::State::On);
        QCOMPARE(board.device(3).commands, 1);
        QCOMPARE(board.device(2).state, BoardState::State::Unknown);
        QCOMPARE(board.device(2).commands, 0);
        QVERIFY(!board.device(2).last.isValid());
        QCOMPARE(board.device(5).state, BoardState::State::Off);
        QCOMPARE(board.totalBytes(), 7);
        QCOMPARE(board.unknownBytes(), 2);  // 'z' and the line feed
    }

    void unknownBytesAreFlaggedNotCounted_data() {
        QTest::addColumn<int>("byte");
        for (int b : {0x00, 0x0D, 0x0A, int('A'), int('J'), int('k'), int('z'), int('`'), 0x7F,
                      0x80, 0xE1, 0xFF})
            QTest::addRow("0x%02x", b) << b;
    }
    void unknownBytesAreFlaggedNotCounted() {
        QFETCH(int, byte);
        BoardState board;
        const auto e = board.feed(static_cast<unsigned char>(byte), QDateTime::currentDateTime());
        QCOMPARE(e.device, 0);
        QCOMPARE(board.unknownBytes(), 1);
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(board.device(n).commands, 0);
        QVERIFY(BoardState::logLine(e).endsWith("\t-\tunknown-byte"));
    }

    void theLogLineSaysTimeByteDeviceAndState() {
        const auto t = QDateTime::fromString("2026-12-08T10:00:01.250", Qt::ISODateWithMs);
        BoardState board;
        QCOMPARE(BoardState::logLine(board.feed('f', t)),
                 QString("2026-12-08T10:00:01.250\t0x66\tf\t3\tOFF"));
    }

    void recentBytesStayBounded() {
        BoardState board;
        for (int i = 0; i < 10000; ++i)
            board.feed('a', QDateTime::currentDateTime());
        QCOMPARE(board.recent().size(), BoardState::kRecent);
        QCOMPARE(board.totalBytes(), 10000);
    }

    void theLineCheckWantsTwentyFourHundredEightNOne_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("right");
        QTest::newRow("board") << int(B2400) << int(CS8) << "2400 baud 8N1" << true;
        QTest::newRow("9600") << int(B9600) << int(CS8) << "9600 baud 8N1" << false;
        QTest::newRow("7E1") << int(B2400) << int(CS7 | PARENB) << "2400 baud 7E1" << false;
        QTest::newRow("8O2") << int(B2400) << int(CS8 | PARENB | PARODD | CSTOPB) << "2400 baud 8O2"
                             << false;
    }
    void theLineCheckWantsTwentyFourHundredEightNOne() {
        QFETCH(int, speed);
        QFETCH(int, flags);
        QFETCH(QString, text);
        QFETCH(bool, right);
        termios t{};
        cfsetospeed(&t, speed_t(speed));
        cfsetispeed(&t, speed_t(speed));
        t.c_cflag |= tcflag_t(flags);
        const auto line = BoardState::readLine(t);
        QCOMPARE(line.text(), text);
        QCOMPARE(line.matches(), right);
    }
};

QTEST_GUILESS_MAIN(TestBoardState)
#include "tst_boardstate.moc"
