#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "mainwindow/Form1.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/WindowRegistry.h"
#include "store/Module1.h"
#include "support/TestSupport.h"

using mainwindow::Form1;

// The real panel against the real simulator: what the buttons send is what the board logs.
class TestBoard : public QObject {
    Q_OBJECT

    struct Simulator {
        QProcess process;
        QString port;
        QString log;
    };

    static bool start(Simulator& sim, const QString& log) {
        sim.log = log;
        sim.process.start(DOMIVOX_BOARD_BIN, {"--plain", "--log", log});
        if (!sim.process.waitForStarted(testsupport::allowMs(5000)) ||
            !sim.process.waitForReadyRead(testsupport::allowMs(5000)))
            return false;
        const QString line = QString::fromLocal8Bit(sim.process.readLine()).trimmed();
        // "DOMIVOX_COM1=/dev/pts/N domivox"
        if (!line.startsWith("DOMIVOX_COM1=") || !line.endsWith(" domivox"))
            return false;
        sim.port = line.mid(13, line.size() - 13 - 8);
        return true;
    }

    static QStringList logLines(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void theBoardLogsEveryLetterOnceInOrder() {
        testsupport::Sandbox sandbox;
        QTemporaryDir dir;
        Simulator sim;
        QVERIFY(start(sim, dir.path() + "/board.log"));
        qputenv("DOMIVOX_COM1", sim.port.toLocal8Bit());
        for (int n = 1; n <= 5; ++n)
            Module1::WriteSetting(Setting::ONBUTTON(n), QString("Dev%1").arg(n));

        Form1* f = platform::WindowRegistry::show<Form1>();
        QVERIFY(f->MSComm1().PortOpen());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += sim.process.readAllStandardOutput()).contains("line: 2400 baud 8N1 (right)"),
            testsupport::allowMs(5000));
        const int presses[] = {1, 6, 3, 3, 10, 7, 2, 9, 4, 5, 8, 1};
        QByteArray expected;
        for (int n : presses) {
            QTest::mouseClick(f->Command(n), Qt::LeftButton);
            const int device = n <= 5 ? n : n - 5;
            expected += char('a' + 2 * (device - 1) + (n <= 5 ? 0 : 1));
        }
        QTRY_COMPARE_WITH_TIMEOUT(logLines(sim.log).size(), int(sizeof presses / sizeof *presses),
                                  testsupport::allowMs(5000));
        QTest::qWait(200);
        const QStringList lines = logLines(sim.log);
        QCOMPARE(lines.size(), expected.size());  // nothing doubled, nothing extra
        QString lastState[6];
        for (int i = 0; i < lines.size(); ++i) {
            const QStringList fields = lines[i].split('\t');
            QCOMPARE(fields.size(), 5);
            QCOMPARE(fields[2], QString(QChar(expected[i])));
            lastState[fields[3].toInt()] = fields[4];
        }
        for (int device = 1; device <= 5; ++device) {
            const QString status = f->Label(device)->text();
            QVERIFY2(status.endsWith(" IS CURRENTLY " + lastState[device]),
                     qPrintable(status + " / " + lastState[device]));
        }

        ::kill(sim.process.processId(), SIGINT);
        QVERIFY(sim.process.waitForFinished(testsupport::allowMs(5000)));
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 0);
    }

    void aClientAtTheWrongSpeedIsReported() {
        QTemporaryDir dir;
        Simulator sim;
        QVERIFY(start(sim, dir.path() + "/board.log"));
        // The live table is for terminals; the check itself is what matters here, so look at
        // the settings the way the simulator does, through the terminal it made.
        const int fd = ::open(qPrintable(sim.port), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios t{};
        ::tcgetattr(fd, &t);
        cfsetospeed(&t, B9600);
        cfsetispeed(&t, B9600);
        ::tcsetattr(fd, TCSANOW, &t);
        QVERIFY(::write(fd, "a", 1) == 1);
        ::close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(logLines(sim.log).size(), 1, testsupport::allowMs(5000));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += sim.process.readAllStandardOutput())
                                     .contains("line: 9600 baud 8N1 (expected 2400 baud 8N1)"),
                                 testsupport::allowMs(5000));
        ::kill(sim.process.processId(), SIGTERM);
        QVERIFY(sim.process.waitForFinished(testsupport::allowMs(5000)));
        QCOMPARE(sim.process.exitCode(), 0);
    }
};

QTEST_MAIN(TestBoard)
#include "tst_board.moc"
