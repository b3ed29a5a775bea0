#include <QtTest>

#include "device/Module2.h"
#include "platform/Errors.h"
#include "platform/clock/IntervalTimer.h"
#include "support/TestSupport.h"

using platform::IntervalTimer;
using testsupport::allowMs;

namespace {

// Something a watcher reads: a value and the signal that says it changed.
class Source : public QObject {
    Q_OBJECT
public:
    void set(int v) {
        value = v;
        Q_EMIT changed();
    }
    int value = 0;
Q_SIGNALS:
    void changed();
};

}  // namespace

class TestIntervalTimer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firesRepeatedlyWhileOn() {
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 20, true, [&] { ++fired; });
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 3, testsupport::allowMs(2000));
        t.setEnabled(false);
        const int stopped = fired;
        QTest::qWait(100);
        QCOMPARE(fired, stopped);
    }

    void intervalZeroNeverFires() {
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 0, true, [&] { ++fired; });
        QTest::qWait(150);
        QCOMPARE(fired, 0);
        QVERIFY(t.Enabled());
        QVERIFY(!t.isCounting());
        // Giving it an interval starts the count, since it is switched on.
        t.setInterval(20);
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 1, testsupport::allowMs(2000));
    }

    void switchingOnARunningClockKeepsItsCount() {
        // A watcher switching the clock on every few milliseconds must not hold it back.
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 200, true, [&] { ++fired; });
        IntervalTimer watcher(&owner, "watcher", 5, true, [&] { t.setEnabled(true); });
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 1, testsupport::allowMs(2000));
    }

    void switchingOffAndOnStartsAFreshInterval() {
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 200, true, [&] { ++fired; });
        IntervalTimer flipper(&owner, "flipper", 20, true, [&] {
            t.setEnabled(false);
            t.setEnabled(true);
        });
        QTest::qWait(600);
        QCOMPARE(fired, 0);
    }

    void settingTheIntervalRestartsTheCount() {
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 200, true, [&] { ++fired; });
        IntervalTimer setter(&owner, "setter", 20, true, [&] { t.setInterval(200); });
        QTest::qWait(600);
        QCOMPARE(fired, 0);
    }

    void aNegativeIntervalIsRefusedAndChangesNothing() {
        QObject owner;
        IntervalTimer t(&owner, "t", 1000, true);
        QVERIFY_THROWS_EXCEPTION(platform::RuntimeError, t.setInterval(-100));
        QCOMPARE(t.Interval(), 1000);
        QVERIFY(t.isCounting());
    }

    void aHandlerInsideAPauseIsNotEnteredAgain() {
        QObject owner;
        int entered = 0;
        int maxDepth = 0;
        int depth = 0;
        new IntervalTimer(&owner, "t", 10, true, [&] {
            ++entered;
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            if (entered == 1)
                Module2::Pause(0.3);  // many firings fall due meanwhile
            --depth;
        });
        QTRY_VERIFY_WITH_TIMEOUT(entered >= 3, testsupport::allowMs(3000));
        QCOMPARE(maxDepth, 1);
        // Firings that fell due during the pause were dropped, not queued up.
        QVERIFY(entered < 20);
    }

    void otherClocksKeepFiringDuringAPause() {
        QObject owner;
        int other = 0;
        bool paused = false;
        IntervalTimer slow(&owner, "slow", 10, true, [&] {
            if (paused)
                return;
            paused = true;
            const int before = other;
            Module2::Pause(0.25);
            QVERIFY(other > before);
        });
        IntervalTimer fast(&owner, "fast", 5, true, [&] { ++other; });
        QTRY_VERIFY_WITH_TIMEOUT(paused && other > 10, testsupport::allowMs(3000));
    }

    void aDeadClockNeverFiresAgain() {
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 10, true, [&] { ++fired; });
        t.kill();
        t.setEnabled(false);
        t.setEnabled(true);
        t.setInterval(5);
        QTest::qWait(100);
        QCOMPARE(fired, 0);
        t.fire();
        QCOMPARE(fired, 0);
    }

    void aClockDestroyedInItsOwnHandlerIsSafe() {
        auto* owner = new QObject;
        int fired = 0;
        new IntervalTimer(owner, "t", 10, true, [&] {
            ++fired;
            delete owner;
        });
        QTRY_COMPARE_WITH_TIMEOUT(fired, 1, testsupport::allowMs(2000));
        QTest::qWait(50);
        QCOMPARE(fired, 1);
    }

    void aFailingHandlerDoesNotStopTheProgram() {
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 10, true, [&] {
            ++fired;
            throw platform::RuntimeError("boom");
        });
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 2, testsupport::allowMs(2000));
        QVERIFY(!t.isInHandler());
    }

    // A watcher that only acts while the source reads 1.
    void aWatcherSleepsWhileItsTickChangesNothingAndWakesOnAChange() {
        QObject owner;
        Source source;
        int acted = 0;
        int ticks = 0;
        IntervalTimer t(&owner, "t", 5, true, [&] {
            ++ticks;
            if (source.value == 1)
                ++acted;
        });
        t.sleepWhile([&] { return source.value != 1; });
        t.wakeOn(&source, &Source::changed);
        QTRY_VERIFY_WITH_TIMEOUT(t.isAsleep(), allowMs(1000));
        const int asleepAfter = ticks;
        QTest::qWait(100);
        QCOMPARE(ticks, asleepAfter);
        // To the window it is still a clock that is on and counting.
        QVERIFY(t.Enabled() && t.isCounting());

        source.set(1);
        QTRY_VERIFY_WITH_TIMEOUT(acted >= 3, allowMs(1000));
        QVERIFY(!t.isAsleep());  // acting ticks keep it awake
        source.set(2);
        QTRY_VERIFY_WITH_TIMEOUT(t.isAsleep(), allowMs(1000));
        QCOMPARE(ticks, asleepAfter + acted + 1);  // one empty tick, then sleep
    }

    void aWokenClockKeepsItsPhase() {
        // Had it counted all along, the tick would come 1000 ms after the last one; a fresh
        // count from the wake would put it 1000 ms after the wake.
        QObject owner;
        Source source;
        QElapsedTimer since;
        since.start();
        QList<qint64> ticks;
        IntervalTimer t(&owner, "t", 1000, true, [&] { ticks << since.elapsed(); });
        t.sleepWhile([&] { return ticks.size() == 1; });
        t.wakeOn(&source, &Source::changed);
        QTRY_VERIFY_WITH_TIMEOUT(t.isAsleep(), allowMs(3000));
        while (since.elapsed() < ticks[0] + 900)
            QTest::qWait(10);
        QElapsedTimer woken;
        woken.start();
        source.set(1);
        QTRY_COMPARE_WITH_TIMEOUT(ticks.size(), 2, allowMs(3000));
        QVERIFY2(woken.elapsed() < allowMs(1000), qPrintable(QString::number(woken.elapsed())));
        // Never early either: the second whole interval after the start.
        QVERIFY2(ticks[1] >= 1995, qPrintable(QString::number(ticks[1])));
    }

    void aWoken1msWatcherTicksBeforeAnythingDueLater() {
        // The readiness watcher is woken by a load that has just begun; a local page can be in
        // within the millisecond, and a watcher that missed the load would let the reload clock
        // run on through it. So a woken clock ticks no later than one that counted all along.
        QObject owner;
        Source source;
        int ticks = 0;
        IntervalTimer t(&owner, "t", 1, true, [&] { ++ticks; });
        t.sleepWhile([] { return true; });
        t.wakeOn(&source, &Source::changed);
        for (int round = 0; round < 20; ++round) {
            QTRY_VERIFY_WITH_TIMEOUT(t.isAsleep(), allowMs(1000));
            QTest::qWait(round % 7);  // anywhere in its phase
            const int before = ticks;
            int ticksWhenDue = -1;
            // Something else due within the millisecond: the load's end, say.
            QTimer::singleShot(1, Qt::PreciseTimer, &owner, [&] { ticksWhenDue = ticks; });
            source.set(round);
            QTRY_VERIFY_WITH_TIMEOUT(ticksWhenDue >= 0, allowMs(1000));
            QCOMPARE(ticksWhenDue, before + 1);
        }
    }

    void wakingAClockThatIsAwakeLeavesItsCountAlone() {
        QObject owner;
        Source source;
        int fired = 0;
        IntervalTimer t(&owner, "t", 200, true, [&] { ++fired; });
        t.sleepWhile([] { return false; });
        t.wakeOn(&source, &Source::changed);
        IntervalTimer poker(&owner, "poker", 10, true, [&] { source.set(0); });
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 1, allowMs(2000));
    }

    // What the window does to a sleeping clock acts as it would on a counting one.
    void switchingASleepingClock_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("firesAgain");
        QTest::newRow("off") << "off" << false;
        QTest::newRow("off and on: fresh interval") << "off-on" << true;
        QTest::newRow("on again: stays asleep") << "on" << false;
        QTest::newRow("new interval") << "interval" << true;
        QTest::newRow("interval 0") << "zero" << false;
        QTest::newRow("killed, then woken") << "kill" << false;
    }
    void switchingASleepingClock() {
        QFETCH(QString, action);
        QFETCH(bool, firesAgain);
        QObject owner;
        Source source;
        int fired = 0;
        IntervalTimer t(&owner, "t", 5, true, [&] { ++fired; });
        t.sleepWhile([&] { return fired == 1; });
        t.wakeOn(&source, &Source::changed);
        QTRY_VERIFY_WITH_TIMEOUT(t.isAsleep(), allowMs(1000));
        if (action == "off" || action == "off-on")
            t.setEnabled(false);
        if (action == "off-on" || action == "on")
            t.setEnabled(true);
        if (action == "interval")
            t.setInterval(10);
        if (action == "zero")
            t.setInterval(0);
        if (action == "kill") {
            t.kill();
            source.set(1);
        }
        QTest::qWait(100);
        QCOMPARE(fired > 1, firesAgain);
    }

    void literalTickingWakesEverySleeperAndKeepsThemTicking() {
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 5, true, [&] { ++fired; });
        t.sleepWhile([] { return true; });
        QTRY_VERIFY_WITH_TIMEOUT(t.isAsleep(), allowMs(1000));
        IntervalTimer::setLiteralTicking(true);
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 5, allowMs(1000));
        QVERIFY(!t.isAsleep());
        IntervalTimer::setLiteralTicking(false);
        QTRY_VERIFY_WITH_TIMEOUT(t.isAsleep(), allowMs(1000));
    }

    void aHandlerInsideAPauseDoesNotSleepItsClockTwice() {
        // Firings skipped during the pause must not put the clock to sleep behind the handler's
        // back; the handler's own return decides.
        QObject owner;
        Source source;
        int entered = 0;
        bool quiet = false;
        IntervalTimer t(&owner, "t", 5, true, [&] {
            ++entered;
            if (entered == 1) {
                quiet = true;
                Module2::Pause(0.1);
                quiet = false;  // something to do after all
            }
        });
        t.sleepWhile([&] { return quiet || entered >= 4; });
        t.wakeOn(&source, &Source::changed);
        QTRY_VERIFY_WITH_TIMEOUT(entered >= 4, allowMs(2000));
        QTRY_VERIFY_WITH_TIMEOUT(t.isAsleep(), allowMs(1000));
    }
};

QTEST_MAIN(TestIntervalTimer)
#include "tst_intervaltimer.moc"
