#include <QtTest>

#include "platform/app/AppInfo.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowRegistry.h"
#include "support/TestSupport.h"

using platform::WindowRegistry;

namespace {

struct Counts {
    int loads = 0;
    int unloads = 0;
    int releases = 0;
    int ticks = 0;
};
Counts counts;

class Plain : public platform::Window {
    Q_OBJECT
public:
    Plain() {
        timer = addTimer("Timer1", 10, false, [] { ++counts.ticks; });
    }
    platform::IntervalTimer* timer;

protected:
    void Form_Load() override { ++counts.loads; }
    void Form_Unload() override { ++counts.unloads; }
    void releaseResources() override { ++counts.releases; }
};

class Other : public platform::Window {
    Q_OBJECT
};

// Hands over to another window during its own load, as a start-up window does.
class HandsOver : public platform::Window {
    Q_OBJECT
protected:
    void Form_Load() override {
        WindowRegistry::show<Other>();
        Unload();
    }
};

// Refers to itself during its load (a box shown from the load lets other code run).
class SelfReferring : public platform::Window {
    Q_OBJECT
public:
    SelfReferring* seen = nullptr;

protected:
    void Form_Load() override { seen = WindowRegistry::load<SelfReferring>(); }
};

}  // namespace

class TestWindowRegistry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { counts = Counts(); }
    void cleanup() {
        WindowRegistry::setEndWhenLastWindowCloses(false);
        WindowRegistry::unloadAll();
        testsupport::flushDeletes();
        platform::App::setEndHandlerForTesting({});
        platform::App::resetEndedForTesting();
    }

    void twipsBecomePixels() {
        QCOMPARE(platform::px(15), 1);
        QCOMPARE(platform::px(4500), 300);
        QCOMPARE(platform::px(10350), 690);
        QCOMPARE(platform::px(7), 0);
        QCOMPARE(platform::px(8), 1);
        QCOMPARE(platform::twipsRect(240, 120, 2895, 4095), QRect(16, 8, 193, 273));
    }

    void referringCreatesOneHiddenWindowAndLoadsItOnce() {
        Plain* a = WindowRegistry::load<Plain>();
        QVERIFY(a);
        QVERIFY(!a->isVisible());
        QCOMPARE(counts.loads, 1);
        QCOMPARE(WindowRegistry::load<Plain>(), a);
        QCOMPARE(WindowRegistry::show<Plain>(), a);
        QVERIFY(a->isVisible());
        QCOMPARE(counts.loads, 1);
        QCOMPARE(WindowRegistry::loadedCount(), 1);
    }

    void unloadingDestroysTheWindowWithItsTimers() {
        QPointer<Plain> a = WindowRegistry::show<Plain>();
        a->timer->setEnabled(true);
        QTRY_VERIFY(counts.ticks > 0);
        a->Unload();
        QCOMPARE(counts.unloads, 1);
        QCOMPARE(counts.releases, 1);
        QVERIFY(!WindowRegistry::isLoaded<Plain>());
        const int ticks = counts.ticks;
        QTest::qWait(80);
        QCOMPARE(counts.ticks, ticks);
        testsupport::flushDeletes();
        QVERIFY(a.isNull());
    }

    void aNewReferenceAfterUnloadLoadsAFreshWindow() {
        Plain* a = WindowRegistry::load<Plain>();
        a->setWindowTitle("changed");
        a->Unload();
        Plain* b = WindowRegistry::load<Plain>();
        QVERIFY(b);
        QVERIFY(b->windowTitle() != "changed");
        QCOMPARE(counts.loads, 2);
        QVERIFY(!b->isUnloaded());
    }

    void closingFromTheFrameUnloads() {
        Plain* a = WindowRegistry::show<Plain>();
        a->close();
        QCOMPARE(counts.unloads, 1);
        QVERIFY(!WindowRegistry::isLoaded<Plain>());
    }

    void aWindowThatUnloadsInItsLoadIsNotReturned() {
        QCOMPARE(WindowRegistry::load<HandsOver>(), nullptr);
        QVERIFY(!WindowRegistry::isLoaded<HandsOver>());
        QVERIFY(WindowRegistry::isLoaded<Other>());
    }

    void aReferenceDuringTheLoadFindsTheSameWindow() {
        SelfReferring* w = WindowRegistry::load<SelfReferring>();
        QCOMPARE(w->seen, w);
        QCOMPARE(WindowRegistry::loadedCount(), 1);
    }

    void unloadingFromItsOwnTimerHandlerIsSafe() {
        Plain* a = WindowRegistry::load<Plain>();
        a->timer->setHandler([a] {
            ++counts.ticks;
            a->Unload();
        });
        a->timer->setEnabled(true);
        QTRY_VERIFY(counts.ticks == 1 && !WindowRegistry::isLoaded<Plain>());
        testsupport::flushDeletes();
        QCOMPARE(counts.ticks, 1);
    }

    void endRemovesEveryWindowWithoutItsUnloadSteps() {
        bool ended = false;
        platform::App::setEndHandlerForTesting([&] { ended = true; });
        WindowRegistry::show<Plain>();
        WindowRegistry::load<Other>();
        platform::App::End();
        QVERIFY(ended);
        QCOMPARE(counts.unloads, 0);
        QCOMPARE(counts.releases, 1);
        QCOMPARE(WindowRegistry::loadedCount(), 0);
    }

    void closingTheLastVisibleWindowEndsTheProgram() {
        bool ended = false;
        platform::App::setEndHandlerForTesting([&] { ended = true; });
        WindowRegistry::setEndWhenLastWindowCloses(true);
        Plain* a = WindowRegistry::show<Plain>();
        WindowRegistry::show<Other>();
        a->close();
        QVERIFY(!ended);
        // A window loaded in the background does not keep the program alive by itself.
        WindowRegistry::load<Plain>();
        QVERIFY(!ended);
        WindowRegistry::find<Other>()->close();
        QVERIFY(ended);
        QCOMPARE(WindowRegistry::loadedCount(), 0);
    }
};

QTEST_MAIN(TestWindowRegistry)
#include "tst_windowregistry.moc"
