#include <QtTest>

#include "device/Module2.h"
#include "platform/Errors.h"
#include "platform/IntervalTimer.h"

using platform::IntervalTimer;

class TestIntervalTimer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firesRepeatedlyWhileOn() {
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 20, true, [&] { ++fired; });
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 3, 2000);
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
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 1, 2000);
    }

    void switchingOnARunningClockKeepsItsCount() {
        // A watcher switching the clock on every few milliseconds must not hold it back.
        QObject owner;
        int fired = 0;
        IntervalTimer t(&owner, "t", 200, true, [&] { ++fired; });
        IntervalTimer watcher(&owner, "watcher", 5, true, [&] { t.setEnabled(true); });
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 1, 2000);
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
        QTRY_VERIFY_WITH_TIMEOUT(entered >= 3, 3000);
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
        QTRY_VERIFY_WITH_TIMEOUT(paused && other > 10, 3000);
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
        QTRY_COMPARE_WITH_TIMEOUT(fired, 1, 2000);
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
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 2, 2000);
        QVERIFY(!t.isInHandler());
    }
};

QTEST_MAIN(TestIntervalTimer)
#include "tst_intervaltimer.moc"
