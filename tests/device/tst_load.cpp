#include <atomic>
#include <mutex>
#include <random>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "device/DeviceCommand.h"
#include "device/Module2.h"
#include "mainwindow/Form1.h"
#include "platform/ui/ChangeLabel.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/internetsettings.h"
#include "schedule/frmTimer.h"
#include "store/Module1.h"
#include "support/HttpTestServer.h"

using device::DeviceCommand;
using mainwindow::Form1;
using remote::internetsettings;
using schedule::frmTimer;

using platform::WindowRegistry;

namespace {

// Reads the board's side of the line on a thread of its own, as a board would, so the program
// never waits for the test to make room in the terminal's buffer.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd), thread_([this] { run(); }) {}
    ~LineReader() {
        stop_ = true;
        thread_.join();
    }
    QByteArray bytes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }
    qsizetype size() const { return bytes().size(); }

private:
    void run() {
        char buf[4096];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                bytes_.append(buf, n);
            }
        }
    }
    int fd_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    QByteArray bytes_;
    std::thread thread_;
};

QByteArray lettersFor(const QList<QPair<int, bool>>& updates) {
    QByteArray letters;
    for (const auto& u : updates)
        letters += DeviceCommand{u.first, u.second}.letter();
    return letters;
}

int seconds(const char* variable, int fallback) {
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(variable, &ok);
    return ok && v > 0 ? v : fallback;
}

}  // namespace

class TestLoad : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        testsupport::storeFactoryNames();
    }
    void cleanup() { box.reset(); }

    void aFloodOfClicksSendsEveryLetterOnceInOrder() {
        Form1* form = WindowRegistry::show<Form1>();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QList<QPair<int, bool>> updates;
        connect(form, &Form1::statusShown, this, [&updates](int device, bool on) {
            updates.append({device, on});
        });
        LineReader board(box->pty().masterFd());

        const int kClicks = 10000;
        std::mt19937 pick(20261208);
        QByteArray expected;
        expected.reserve(kClicks);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kClicks; ++i) {
            const int button = int(pick() % 10) + 1;
            QPushButton* b = form->Command(button);
            QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
            expected += DeviceCommand::forButton(button).letter();
        }
        const qint64 clickMs = clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(board.size(), qsizetype(kClicks), testsupport::allowMs(30000));
        QCOMPARE(board.bytes(), expected);
        QCOMPARE(box->pty().drain(), QByteArray());
        QCOMPARE(lettersFor(updates), expected);
        QCOMPARE(box->boxes().boxes.size(), 0);
        for (int device = 1; device <= 5; ++device) {
            const int last = int(expected.lastIndexOf(DeviceCommand{device, true}.letter()));
            const int lastOff = int(expected.lastIndexOf(DeviceCommand{device, false}.letter()));
            QVERIFY(last >= 0 && lastOff >= 0);
            QCOMPARE(form->Label(device)->text().endsWith(" ON"), last > lastOff);
        }
        qInfo("%d clicks synthesized in %lld ms; %lld letters received, in order", kClicks, clickMs,
              qlonglong(board.size()));
    }

    void aFlippingPageAndRepeatedPatternsKeepLettersAndStatusInStep() {
        // The page flips between "10000" and "00000" every 50 ms; the poller reloads every 150 ms
        // and looks every 50 ms, while the timer window applies a pattern every couple of
        // seconds. Both switch devices through pauses that nest inside each other.
        const int duration = seconds("DOMIVOX_LOAD_SECONDS", 60);
        testhttp::Server server;
        QElapsedTimer pageClock;
        pageClock.start();
        server.on("/remote", [&pageClock](const testhttp::Request&) {
            const bool one = (pageClock.elapsed() / 50) % 2 == 0;
            return testhttp::Response::titled(one ? "10000" : "00000");
        });
        Module1::WriteSetting(Setting::Address, server.url("/remote"));
        Module1::WriteSetting(Setting::timer1, "150");

        Form1* form = WindowRegistry::show<Form1>();
        QList<QPair<int, bool>> updates;
        connect(form, &Form1::statusShown, this, [&updates](int device, bool on) {
            updates.append({device, on});
        });
        LineReader board(box->pty().masterFd());

        int deepest = 0;
        int samples = 0;
        QTimer depthWatch;
        depthWatch.setInterval(5);
        connect(&depthWatch, &QTimer::timeout, this, [&] {
            deepest = std::max(deepest, Module2::pauseDepth());
            ++samples;
        });
        depthWatch.start();

        internetsettings* poller = WindowRegistry::show<internetsettings>();
        poller->Text2()->setText("150");
        poller->Command2()->click();

        frmTimer* timer = WindowRegistry::show<frmTimer>();
        int runs = 0;
        QTimer restarter;
        restarter.setInterval(100);
        connect(&restarter, &QTimer::timeout, this, [&] {
            if (!timer->cmdStart()->isEnabled())
                return;
            // Alternate patterns so every run switches something.
            const char* pattern = runs % 2 ? "01010" : "10101";
            for (int k = 1; k <= 5; ++k)
                timer->Text(k)->setText(QString(QLatin1Char(pattern[k - 1])));
            timer->Text11()->setText("0");
            timer->Text12()->setText("2");
            timer->cmdStart()->click();
            ++runs;
        });
        restarter.start();

        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < duration * 1000)
            QTest::qWait(100);
        restarter.stop();
        poller->Unload();
        timer->Unload();
        // Whatever pass was under way ends; the line falls quiet.
        QTRY_COMPARE_WITH_TIMEOUT(Module2::pauseDepth(), 0, testsupport::allowMs(10000));
        depthWatch.stop();
        QTRY_COMPARE_WITH_TIMEOUT(board.size(), qsizetype(updates.size()),
                                  testsupport::allowMs(10000));
        QCOMPARE(box->pty().drain(300), QByteArray());

        const QByteArray letters = board.bytes();
        QCOMPARE(letters, lettersFor(updates));
        // One level per clock that can switch devices: the poll clock and the timer window's.
        QVERIFY2(deepest <= 3, qPrintable(QString::number(deepest)));
        QVERIFY(samples > duration * 20);
        QVERIFY2(runs >= duration / 6, qPrintable(QString::number(runs)));
        QVERIFY2(letters.count('a') + letters.count('b') >= duration,
                 qPrintable(QString::fromLatin1(letters.left(200))));
        for (char c : letters)
            QVERIFY2(QByteArray("abcdefghij").contains(c), qPrintable(QString::number(int(c))));
        QCOMPARE(box->boxes().boxes.size(), 0);
        qInfo(
            "%d s: %lld letters sent and received (%lld for device 1), %d timer runs, "
            "deepest pause nesting %d",
            duration, qlonglong(letters.size()), qlonglong(letters.count('a') + letters.count('b')),
            runs, deepest);
    }
};

QTEST_MAIN(TestLoad)
#include "tst_load.moc"
