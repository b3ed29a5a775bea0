#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QtTest>

#include "../support/TestSupport.h"
#include "device/BoardLink.h"
#include "mainwindow/Form1.h"
#include "platform/Errors.h"
#include "platform/clock/Clock.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/Colors.h"
#include "platform/ui/WindowRegistry.h"
#include "schedule/ApplyDeviceState.h"
#include "schedule/frmTimer.h"
#include "store/Module1.h"

using mainwindow::Form1;
using schedule::frmTimer;

using platform::WindowRegistry;

namespace {

const char* const kOn[] = {"START TV", "START SPRINKLER", "FRONT LIGHTS ON", "START POOL FILTER",
                           "OPEN GARAGE DOOR"};
const char* const kOff[] = {"STOP TV", "STOP SPINKLER", "FRONT LIGHTS OFF", "STOP POOL FILTER",
                            "CLOSE GARAGE DOOR"};

QString onText(int device) {
    return QString(kOn[device - 1]) + " IS CURRENTLY ON";
}
QString offText(int device) {
    return QString(kOff[device - 1]) + " IS CURRENTLY OFF";
}

// Timestamps every letter as it reaches the board's end of the line. The notifier is served by
// the device actions' own pauses, so the times show when each letter left.
class WireLog {
public:
    explicit WireLog(testsupport::Pty& pty)
        : fd_(pty.masterFd()), notifier_(fd_, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_, [this] { take(); });
    }
    QList<double> times() const { return times_; }
    // Waits for `count` letters, then for a quiet spell in which nothing more may come.
    QByteArray settle(int count, int quietMs = 200) {
        if (!QTest::qWaitFor([&] { return letters_.size() >= count; }, 5000))
            return letters_;  // short: the comparison shows what came
        QTest::qWait(quietMs);
        return letters_;
    }

private:
    void take() {
        char buf[64];
        ssize_t n;
        while ((n = ::read(fd_, buf, sizeof buf)) > 0) {
            const double now = platform::monotonicSeconds();
            for (ssize_t i = 0; i < n; ++i) {
                letters_.append(buf[i]);
                times_.append(now);
            }
        }
    }
    int fd_;
    QSocketNotifier notifier_;
    QByteArray letters_;
    QList<double> times_;
};

}  // namespace

class TestApplyDeviceState : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    Form1* main = nullptr;
    frmTimer* timer = nullptr;

    void setPattern(const QStringList& entries) {
        for (int k = 1; k <= 5; ++k)
            timer->Text(k)->setText(entries.value(k - 1));
    }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        for (int n = 1; n <= 5; ++n) {
            Module1::WriteSetting(Setting::ONBUTTON(n), kOn[n - 1]);
            Module1::WriteSetting(Setting::OFFBUTTON(n), kOff[n - 1]);
        }
        main = WindowRegistry::show<Form1>();
        timer = WindowRegistry::show<frmTimer>();
    }
    void cleanup() {
        box.reset();
        main = nullptr;
        timer = nullptr;
    }

    void patternsGoOutInDeviceOrderWithAPauseAfterEachLetter_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QByteArray>("letters");
        QTest::addColumn<QStringList>("statuses");
        QTest::newRow("alternating")
            << QStringList{"1", "0", "1", "0", "1"} << QByteArray("adehi")
            << QStringList{onText(1), offText(2), onText(3), offText(4), onText(5)};
        QTest::newRow("initial zeros")
            << QStringList{"0", "0", "0", "0", "0"} << QByteArray("bdfhj")
            << QStringList{offText(1), offText(2), offText(3), offText(4), offText(5)};
        QTest::newRow("others left alone")
            << QStringList{"1", " 1", "0", "01", "on"} << QByteArray("af")
            << QStringList{onText(1), "OFF STATE", offText(3), "OFF STATE", "OFF STATE"};
    }
    void patternsGoOutInDeviceOrderWithAPauseAfterEachLetter() {
        QFETCH(QStringList, entries);
        QFETCH(QByteArray, letters);
        QFETCH(QStringList, statuses);
        setPattern(entries);
        WireLog wire(box->pty());
        const double t0 = platform::monotonicSeconds();
        schedule::ApplyDeviceState();
        const double took = platform::monotonicSeconds() - t0;
        QVERIFY2(took >= 0.25 * letters.size(), qPrintable(QString::number(took)));
        QCOMPARE(wire.settle(letters.size()), letters);
        const QList<double> at = wire.times();
        for (int i = 1; i < at.size(); ++i)
            QVERIFY2(at[i] - at[i - 1] >= 0.15,
                     qPrintable(QString("gap %1: %2 s").arg(i).arg(at[i] - at[i - 1])));
        for (int d = 1; d <= 5; ++d) {
            QCOMPARE(main->Label(d)->text(), statuses[d - 1]);
            const bool on = statuses[d - 1].endsWith(" ON");
            QCOMPARE(platform::backColor(main->Label(d)),
                     on ? platform::kColorGreen : platform::kColorRed);
        }
    }

    void entriesThatAreNeitherOneNorZeroCostNothing_data() {
        QTest::addColumn<QString>("entry");
        for (const char* text : {"", " 1", "1 ", "01", "2", "on", " ", "0 ", "1\t", "O", "l"})
            QTest::newRow(qPrintable(QString("\"%1\"").arg(text))) << QString(text);
    }
    void entriesThatAreNeitherOneNorZeroCostNothing() {
        QFETCH(QString, entry);
        setPattern({entry, entry, entry, entry, entry});
        const double t0 = platform::monotonicSeconds();
        schedule::ApplyDeviceState();
        // Not even one pause.
        QVERIFY(platform::monotonicSeconds() - t0 < testsupport::allowMs(250) / 1000.0);
        QCOMPARE(box->pty().drain(), QByteArray());
        for (int d = 1; d <= 5; ++d)
            QCOMPARE(main->Label(d)->text(), QString("OFF STATE"));
    }

    void anEntryChangedDuringAPauseCounts() {
        setPattern({"1", "1", "1", "1", "1"});
        // Runs at the first event handled, which is inside device 1's pause.
        QTimer::singleShot(0, timer, [this] {
            timer->Text(1)->setText("0");
            timer->Text(3)->setText("0");
        });
        schedule::ApplyDeviceState();
        QCOMPARE(box->pty().read(6), QByteArray("abcfgi"));
        QCOMPARE(box->pty().drain(), QByteArray());
        QCOMPARE(main->Label(1)->text(), offText(1));
        QCOMPARE(main->Label(3)->text(), offText(3));
    }

    void aFailedDeviceEndsThePassAndPassesTheFailureOn() {
        setPattern({"1", "1", "0", "1", "0"});
        QTimer::singleShot(0, main, [this] { main->boardLink().close(); });
        QVERIFY_THROWS_EXCEPTION(platform::RuntimeError, schedule::ApplyDeviceState());
        QCOMPARE(box->pty().read(1), QByteArray("a"));
        QCOMPARE(box->pty().drain(), QByteArray());
        QCOMPARE(main->Label(1)->text(), onText(1));
        for (int d = 2; d <= 5; ++d) {
            QCOMPARE(main->Label(d)->text(), QString("OFF STATE"));
            QCOMPARE(platform::backColor(main->Label(d)), platform::kColorRed);
        }
    }

    void closingTheWindowEndsThePass_data() {
        QTest::addColumn<bool>("reopen");
        QTest::newRow("closed") << false;
        // A fresh window holds "0"s the user never asked for.
        QTest::newRow("closed and opened again") << true;
    }
    void closingTheWindowEndsThePass() {
        QFETCH(bool, reopen);
        setPattern({"1", "1", "1", "1", "1"});
        QTimer::singleShot(0, main, [this, reopen] {
            timer->close();
            testsupport::flushDeletes();
            if (reopen)
                main->tmfunction_Click();
        });
        schedule::ApplyDeviceState();
        QCOMPARE(box->pty().read(1), QByteArray("a"));
        QCOMPARE(box->pty().drain(), QByteArray());
        for (int d = 2; d <= 5; ++d)
            QCOMPARE(main->Label(d)->text(), QString("OFF STATE"));
        frmTimer* now = WindowRegistry::find<frmTimer>();
        QCOMPARE(now != nullptr, reopen);
        if (now)
            QCOMPARE(now->Text(2)->text(), QString("0"));
    }

    void withoutATimerWindowNothingIsSent() {
        timer->close();
        testsupport::flushDeletes();
        schedule::ApplyDeviceState();
        QVERIFY(!WindowRegistry::isLoaded<frmTimer>());
        QCOMPARE(box->pty().drain(), QByteArray());
    }
};

QTEST_MAIN(TestApplyDeviceState)
#include "tst_applydevicestate.moc"
