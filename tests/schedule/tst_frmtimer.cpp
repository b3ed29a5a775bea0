#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "../support/TestSupport.h"
#include "device/BoardLink.h"
#include "device/Module2.h"
#include "mainwindow/Form1.h"
#include "platform/clock/Clock.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/ChangeLabel.h"
#include "platform/ui/Colors.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/WindowRegistry.h"
#include "schedule/frmTimer.h"
#include "store/Module1.h"

using mainwindow::Form1;
using schedule::frmTimer;

using platform::WindowRegistry;

namespace {

const QString kFailure = " You must Configure your Setting correctly";
constexpr int kNever = 3600 * 1000;  // an interval no test lives to see

// Types as a user does, one character at a time at the end of the entry.
void type(QLineEdit* e, const QString& text) {
    for (QChar c : text) {
        e->end(false);
        e->insert(QString(c));
    }
}

bool warned(const frmTimer* w) {
    return !w->lblwarning()->isHidden() && platform::foreColor(w->lbltime()) == platform::kColorRed;
}
bool calm(const frmTimer* w) {
    const int buttonText = platform::fromQColor(qApp->palette().color(QPalette::ButtonText));
    return w->lblwarning()->isHidden() && platform::foreColor(w->lbltime()) == buttonText;
}

}  // namespace

class TestFrmTimer : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    Form1* main = nullptr;

    // Opens the window the way the user does, from the main window's menu.
    frmTimer* open() {
        main->findChild<QAction*>("tmfunction")->trigger();
        return WindowRegistry::find<frmTimer>();
    }
    // The countdown is driven by hand; the watcher stays real unless asked.
    frmTimer* openHandDriven(bool watcherToo = false) {
        frmTimer* w = open();
        w->Timer1()->setInterval(kNever);
        if (watcherToo)
            w->Timer2()->setInterval(kNever);
        return w;
    }
    static bool tick(frmTimer* w) {
        if (!w->Timer1()->Enabled())
            return false;  // a real tick could not come
        w->Timer1()->fire();
        return true;
    }
    static void setPattern(frmTimer* w, const QStringList& entries) {
        for (int k = 1; k <= 5; ++k)
            w->Text(k)->setText(entries.value(k - 1));
    }
    static bool isReady(const frmTimer* w) {
        return w->lbltime()->text() == "00:00:00" && w->Text11()->text().isEmpty() &&
               w->Text12()->text().isEmpty() && !w->Text11()->isReadOnly() &&
               !w->Text12()->isReadOnly() && w->cmdStart()->isEnabled() &&
               !w->cmdpause()->isHidden() && w->Command1()->isHidden() &&
               !w->Timer1()->isCounting() && !w->Timer2()->isCounting() && calm(w);
    }
    int failureBoxes() {
        int n = 0;
        for (const auto& b : box->boxes().boxes)
            n += b.text == kFailure && b.style == 64 && b.title == "Error";
        return n;
    }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        Module1::WriteSetting(Setting::ONBUTTON(1), "START TV");
        main = WindowRegistry::show<Form1>();
        QVERIFY(main->MSComm1().PortOpen());
    }
    void cleanup() {
        box.reset();
        main = nullptr;
    }

    void theWindowOpensAsDesigned() {
        frmTimer* w = open();
        QVERIFY(w->isVisible());
        QCOMPARE(w->caption(), QString("Timer Function"));
        QCOMPARE(w->client()->size(), QSize(243, 231));
        const struct {
            const char* name;
            QRect at;
        } layout[] = {{"Label7", {8, 0, 201, 17}},      {"Text11", {8, 24, 49, 24}},
                      {"Label19", {16, 48, 16, 14}},    {"Text12", {56, 24, 49, 24}},
                      {"Label18", {64, 48, 19, 14}},    {"cmdStart", {112, 24, 49, 25}},
                      {"cmdpause", {160, 24, 49, 25}},  {"cmdStop", {136, 48, 49, 25}},
                      {"Command1", {112, 40, 49, 25}},  {"lbltime", {8, 64, 80, 22}},
                      {"lblwarning", {0, 88, 225, 45}}, {"Frame1", {8, 136, 233, 89}},
                      {"Label1", {8, 16, 217, 17}},     {"Label2", {24, 32, 17, 17}},
                      {"Label6", {184, 32, 17, 17}},    {"Text1", {16, 48, 33, 25}},
                      {"Text5", {176, 48, 33, 25}}};
        for (const auto& c : layout) {
            QWidget* widget = w->findChild<QWidget*>(c.name);
            QVERIFY2(widget, c.name);
            QCOMPARE(widget->geometry(), c.at);
        }
        QCOMPARE(w->Text(1)->parentWidget(), static_cast<QWidget*>(w->Frame1()));
        QCOMPARE(w->Frame1()->title(), QString("Please enter device state:"));
        QCOMPARE(w->cmdStart()->text(), QString("&Start"));
        QCOMPARE(w->cmdpause()->text(), QString("&Pause"));
        QCOMPARE(w->cmdStop()->text(), QString("S&top"));
        QCOMPARE(w->Command1()->text(), QString("&Resume"));
        QCOMPARE(w->findChild<QLabel*>("Label1")->text(),
                 QString("Remember 1 Means ON and 0 Means OFF"));
        QCOMPARE(w->lblwarning()->text(),
                 QString("Warning Device State will change in under 15 Seconds"));
        QCOMPARE(platform::foreColor(w->lblwarning()), platform::kColorRed);
        QCOMPARE(w->lblwarning()->font(), platform::designFont("Arial", 12, true));
        QCOMPARE(w->lbltime()->font(), platform::designFont("Arial", 14.25, true));
        QCOMPARE(w->Text11()->font(), platform::designFont("Arial", 14.25));
        QCOMPARE(w->findChild<QLabel*>("Label18")->font(), platform::designFont("Arial", 8.25));
        for (int k = 1; k <= 5; ++k) {
            QCOMPARE(w->Text(k)->text(), QString("0"));
            QCOMPARE(w->findChild<QLabel*>(QString("Label%1").arg(k + 1))->text(),
                     QString::number(k));
        }
        QVERIFY(isReady(w));
        QCOMPARE(w->Timer1()->Interval(), 970);
        QCOMPARE(w->Timer2()->Interval(), 1);
        const char* const menu[][2] = {{"mnufile", "&File"},
                                       {"mnustart", "&Start"},
                                       {"mnupause", "&Pause"},
                                       {"mnustop", "&Stop"},
                                       {"mnuclose", "&Close"}};
        for (const auto& item : menu) {
            QAction* a = w->findChild<QAction*>(item[0]);
            QVERIFY2(a, item[0]);
            QCOMPARE(a->text(), QString(item[1]));
        }
    }

    void theMainWindowKeepsOneTimerWindow() {
        frmTimer* w = open();
        type(w->Text12(), "40");
        w->Text(3)->setText("1");
        QCOMPARE(open(), w);
        QCOMPARE(w->lbltime()->text(), QString("00:00:40"));
        QCOMPARE(w->Text(3)->text(), QString("1"));
    }

    void theDisplayFollowsTheEntries_data() {
        QTest::addColumn<QString>("minutes");
        QTest::addColumn<QString>("seconds");
        QTest::addColumn<QString>("display");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("90 minutes") << "90"
                                    << ""
                                    << "01:30:00" << false;
        QTest::newRow("75 seconds") << ""
                                    << "75"
                                    << "00:01:15" << false;
        QTest::newRow("carries") << "59"
                                 << "60"
                                 << "01:00:00" << false;
        QTest::newRow("last second of a day") << "1439"
                                              << "59"
                                              << "23:59:59" << false;
        QTest::newRow("a whole day is zero") << "1440"
                                             << ""
                                             << "00:00:00" << true;
        QTest::newRow("a day and a minute") << "1441"
                                            << ""
                                            << "00:01:00" << false;
        QTest::newRow("2.5 reads 2") << "2.5"
                                     << ""
                                     << "00:02:00" << false;
        QTest::newRow("3.5 reads 4") << "3.5"
                                     << ""
                                     << "00:04:00" << false;
        QTest::newRow("12abc reads 12") << "12abc"
                                        << ""
                                        << "00:12:00" << false;
        QTest::newRow("letters read 0") << "abc"
                                        << "7"
                                        << "00:00:07" << false;
        QTest::newRow("empty reads 0") << ""
                                       << "7"
                                       << "00:00:07" << false;
        QTest::newRow("blanks skipped") << " 1 0"
                                        << ""
                                        << "00:10:00" << false;
        QTest::newRow("negative reads 0") << "-5"
                                          << "30"
                                          << "00:00:30" << false;
        QTest::newRow("largest minutes") << "32767"
                                         << ""
                                         << "18:07:00" << false;
        QTest::newRow("minutes past 16 bits") << "32768"
                                              << ""
                                              << "00:00:00" << true;
        QTest::newRow("seconds past 16 bits") << ""
                                              << "40000"
                                              << "00:00:00" << true;
    }
    void theDisplayFollowsTheEntries() {
        QFETCH(QString, minutes);
        QFETCH(QString, seconds);
        QFETCH(QString, display);
        QFETCH(bool, emptied);
        frmTimer* w = open();
        type(w->Text11(), minutes);
        type(w->Text12(), seconds);
        QCOMPARE(w->lbltime()->text(), display);
        QCOMPARE(w->Text11()->text(), emptied ? QString() : minutes);
        QCOMPARE(w->Text12()->text(), emptied ? QString() : seconds);
        QVERIFY(!w->Timer1()->isCounting());  // typing never starts a countdown
    }

    void readingAnEntry_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("reads");
        QTest::newRow("tab and line feed") << "\t1\n2" << 12;
        QTest::newRow("carriage return stops") << "1\r2" << 1;
        QTest::newRow("plus") << "+8" << 8;
        QTest::newRow("4.5 to even") << "4.5" << 4;
        QTest::newRow("5.5 to even") << "5.5" << 6;
        QTest::newRow("just above a half") << "4.51" << 5;
        QTest::newRow("trailing point") << "5." << 5;
        QTest::newRow("point first") << ".6" << 1;
        QTest::newRow("a second point stops") << "1.2.9" << 1;
        QTest::newRow("comma stops") << "1,9" << 1;
        QTest::newRow("no exponent") << "1e3" << 1;
        QTest::newRow("no hex") << "0x10" << 0;
        QTest::newRow("sign alone") << "-" << 0;
        QTest::newRow("point alone") << "." << 0;
        QTest::newRow("small negative rounds to 0") << "-0.4" << 0;
        QTest::newRow("negative") << "-1" << 0;
        QTest::newRow("top of the range") << "32767.4" << 32767;
        QTest::newRow("rounds out of the range") << "32767.5" << 0;
        QTest::newRow("huge") << QString("1") + QString(400, '0') << 0;
    }
    void readingAnEntry() {
        QFETCH(QString, text);
        QFETCH(int, reads);
        QCOMPARE(int(frmTimer::ReadEntry(text)), reads);
    }

    void warningAndRedFromFifteenSecondsDownEvenBeforeStart_data() {
        QTest::addColumn<QString>("minutes");
        QTest::addColumn<QString>("seconds");
        QTest::addColumn<bool>("warning");
        QTest::newRow("16") << ""
                            << "16" << false;
        QTest::newRow("15") << ""
                            << "15" << true;
        QTest::newRow("1") << ""
                           << "1" << true;
        QTest::newRow("01:05") << "1"
                               << "5" << false;
    }
    void warningAndRedFromFifteenSecondsDownEvenBeforeStart() {
        QFETCH(QString, minutes);
        QFETCH(QString, seconds);
        QFETCH(bool, warning);
        frmTimer* w = open();
        type(w->Text11(), minutes);
        type(w->Text12(), seconds);
        QVERIFY(warning ? warned(w) : calm(w));
        w->cmdpause()->click();  // nothing runs, so nothing to pause
        QCOMPARE(w->caption(), QString("Timer Function"));
        QVERIFY(w->Command1()->isHidden());
        w->Text12()->clear();
        w->Text11()->clear();
        QVERIFY(isReady(w));
    }

    void startLocksTheDurationOnly() {
        frmTimer* w = openHandDriven();
        type(w->Text12(), "30");
        w->cmdStart()->click();
        QCOMPARE(w->caption(), QString("Timer"));
        QVERIFY(w->Timer1()->Enabled());
        QVERIFY(w->Timer2()->Enabled());
        QVERIFY(!w->cmdStart()->isEnabled());
        QTest::keyClicks(w->Text12(), "9");
        QCOMPARE(w->Text12()->text(), QString("30"));
        QTest::keyClicks(w->Text(2), "1");
        QCOMPARE(w->Text(2)->text(), QString("01"));  // the pattern stays editable
        QVERIFY(tick(w));
        QCOMPARE(w->lbltime()->text(), QString("00:00:29"));
    }

    void pauseHoldsAtADisplayedSecondAndResumeGoesOn() {
        frmTimer* w = openHandDriven();
        type(w->Text12(), "12");
        w->cmdStart()->click();
        QVERIFY(tick(w));
        QVERIFY(tick(w));
        QCOMPARE(w->lbltime()->text(), QString("00:00:10"));
        QVERIFY(warned(w));

        w->cmdpause()->click();
        QCOMPARE(w->caption(), QString("Timer - Paused..."));
        QVERIFY(!w->Timer1()->Enabled());
        QVERIFY(w->Timer2()->Enabled());
        QVERIFY(!w->Command1()->isHidden());
        QVERIFY(w->cmdpause()->isHidden());
        QCOMPARE(w->focusWidget(), static_cast<QWidget*>(w->Command1()));
        QVERIFY(!w->cmdStart()->isEnabled());
        QVERIFY(w->Text12()->isReadOnly());
        QCOMPARE(w->lbltime()->text(), QString("00:00:10"));
        QVERIFY(warned(w));
        w->findChild<QAction*>("mnustart")->trigger();  // Start's button is disabled
        QCOMPARE(w->caption(), QString("Timer - Paused..."));
        QVERIFY(!w->Timer1()->Enabled());

        w->Command1()->click();
        QCOMPARE(w->caption(), QString("Timer"));
        QVERIFY(w->lblwarning()->isHidden());
        QVERIFY(w->Timer1()->Enabled());
        QVERIFY(w->Command1()->isHidden());
        QVERIFY(!w->cmdpause()->isHidden());
        QCOMPARE(w->focusWidget(), static_cast<QWidget*>(w->cmdpause()));
        QVERIFY(tick(w));
        QCOMPARE(w->lbltime()->text(), QString("00:00:09"));
        QVERIFY(warned(w));
    }

    void stopReturnsToReadyWithBothClocksOff_data() {
        QTest::addColumn<bool>("pausedFirst");
        QTest::addColumn<QString>("caption");
        QTest::newRow("from running") << false << "Timer";
        QTest::newRow("from paused") << true << "Timer - Paused...";
    }
    void stopReturnsToReadyWithBothClocksOff() {
        QFETCH(bool, pausedFirst);
        QFETCH(QString, caption);
        frmTimer* w = open();
        w->Text(1)->setText("1");
        type(w->Text12(), "12");
        w->cmdStart()->click();
        if (pausedFirst)
            w->cmdpause()->click();
        w->cmdStop()->click();
        QVERIFY(isReady(w));
        QCOMPARE(w->caption(), caption);
        // Neither a duration typed now counts down, nor does its last second apply anything.
        type(w->Text12(), "1");
        QVERIFY(warned(w));
        QVERIFY(!w->Timer1()->isCounting());
        QVERIFY(!w->Timer2()->isCounting());
        QCOMPARE(box->pty().drain(300), QByteArray());
    }

    void anEmptyDurationStallsUntilStop() {
        frmTimer* w = open();
        w->cmdStart()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->Timer1()->Enabled(), testsupport::allowMs(5000));
        QVERIFY(w->Timer2()->Enabled());
        QVERIFY(w->Text11()->isReadOnly());
        QVERIFY(!w->cmdStart()->isEnabled());
        w->cmdpause()->click();
        QCOMPARE(w->caption(), QString("Timer"));
        QVERIFY(w->Command1()->isHidden());
        w->cmdStop()->click();
        QVERIFY(isReady(w));
        QCOMPARE(box->pty().drain(), QByteArray());
    }

    void theMenuRunsTheButtonsSteps() {
        frmTimer* w = openHandDriven();
        type(w->Text12(), "30");
        w->findChild<QAction*>("mnustart")->trigger();
        QCOMPARE(w->caption(), QString("Timer"));
        QVERIFY(w->Timer1()->Enabled());
        w->findChild<QAction*>("mnupause")->trigger();
        QCOMPARE(w->caption(), QString("Timer - Paused..."));
        QVERIFY(!w->Command1()->isHidden());
        w->findChild<QAction*>("mnustop")->trigger();
        QVERIFY(isReady(w));
        w->findChild<QAction*>("mnuclose")->trigger();
        QVERIFY(!WindowRegistry::isLoaded<frmTimer>());
    }

    void aRealRunAppliesThePatternOnceAtItsLastSecond() {
        frmTimer* w = open();
        setPattern(w, {"1", "0", "1", "0", "1"});
        type(w->Text12(), "3");
        QStringList shown;
        QStringList device1;
        connect(w->lbltime(), &platform::ChangeLabel::Change, this, [&] {
            shown << w->lbltime()->text();
            device1 << main->Label(1)->text();
        });
        const double t0 = platform::monotonicSeconds();
        w->cmdStart()->click();
        // Five devices take longer than the last second: the display reaches zero mid-pass.
        QCOMPARE(box->pty().read(5, 10000), QByteArray("adehi"));
        QTRY_VERIFY_WITH_TIMEOUT(!w->Timer2()->Enabled(), testsupport::allowMs(5000));
        QCOMPARE(shown, QStringList({"00:00:02", "00:00:01", "00:00:00"}));
        QCOMPARE(device1.first(), QString("OFF STATE"));
        QCOMPARE(device1.last(), QString("START TV IS CURRENTLY ON"));
        QVERIFY(platform::monotonicSeconds() - t0 >= 2.8);  // three ticks of 970 ms
        QVERIFY(isReady(w));
        QCOMPARE(w->caption(), QString("Timer"));
        QCOMPARE(box->pty().drain(1200), QByteArray());  // once only
        QVERIFY(box->boxes().boxes.isEmpty());
    }

    void aOneSecondRunAppliesRightAfterStart() {
        frmTimer* w = openHandDriven();
        setPattern(w, {"0", "", "", "", "1"});
        type(w->Text12(), "1");
        w->cmdStart()->click();
        QCOMPARE(box->pty().read(2), QByteArray("bi"));
        QTRY_VERIFY(!w->Timer2()->Enabled());
        QCOMPARE(w->lbltime()->text(), QString("00:00:01"));
        QVERIFY(tick(w));
        QVERIFY(isReady(w));
    }

    void aDayAndAMinuteCountsDownOneMinute() {
        frmTimer* w = openHandDriven();
        setPattern(w, {"", "", "1", "", ""});
        type(w->Text11(), "1441");
        w->cmdStart()->click();
        int ticks = 0;
        while (w->lbltime()->text() != "00:00:01" && ticks < 100) {
            QVERIFY(tick(w));
            ++ticks;
        }
        QCOMPARE(ticks, 59);
        QCOMPARE(box->pty().read(1), QByteArray("e"));
        QTRY_VERIFY(!w->Timer2()->Enabled());
        QVERIFY(tick(w));
        QVERIFY(isReady(w));
        QVERIFY(!tick(w));
    }

    void menuStartAfterTheLastSecondDoesNotApplyAgain() {
        frmTimer* w = openHandDriven();
        setPattern(w, {"1", "", "", "", ""});
        type(w->Text12(), "2");
        w->cmdStart()->click();
        QVERIFY(tick(w));
        QCOMPARE(box->pty().read(1), QByteArray("a"));
        QTRY_VERIFY(!w->Timer2()->Enabled());
        w->findChild<QAction*>("mnustart")->trigger();
        QVERIFY(!w->Timer2()->Enabled());
        QCOMPARE(box->pty().drain(300), QByteArray());
    }

    void aRunStartedWhileThePreviousPassIsStillApplyingKeepsItsWatcher() {
        frmTimer* w = openHandDriven();
        setPattern(w, {"1", "", "", "", "1"});
        type(w->Text12(), "2");
        w->cmdStart()->click();
        QVERIFY(tick(w));  // 00:00:01: the watcher begins the pass
        QTimer during;
        during.setInterval(5);
        connect(&during, &QTimer::timeout, this, [&] {
            if (Module2::pauseDepth() == 0)
                return;
            during.stop();
            tick(w);  // 00:00:00: ready again while device 1 pauses
            type(w->Text12(), "30");
            w->cmdStart()->click();
        });
        during.start();
        QCOMPARE(box->pty().read(2), QByteArray("ai"));
        QTRY_VERIFY(Module2::pauseDepth() == 0);
        QCOMPARE(w->lbltime()->text(), QString("00:00:30"));
        QVERIFY(w->Timer2()->Enabled());
    }

    void aFailureWhileApplyingIsReportedOnceAndClosesTheWindow_data() {
        QTest::addColumn<bool>("atDeviceTwo");
        QTest::newRow("link closed from the start") << false;
        QTest::newRow("link lost at device 2") << true;
    }
    void aFailureWhileApplyingIsReportedOnceAndClosesTheWindow() {
        QFETCH(bool, atDeviceTwo);
        frmTimer* w = open();
        setPattern(w, {"1", "1", "0", "1", "0"});
        type(w->Text12(), "1");
        QTimer unplug;
        unplug.setInterval(5);
        connect(&unplug, &QTimer::timeout, this, [&] {
            if (Module2::pauseDepth() > 0) {  // device 1 has gone out
                main->boardLink().close();
                unplug.stop();
            }
        });
        if (atDeviceTwo)
            unplug.start();
        else
            main->boardLink().close();
        bool openWhileShown = false;
        box->boxes().onShow = [&](const auto&) {
            openWhileShown = WindowRegistry::isLoaded<frmTimer>();
            w->Timer2()->fire();  // a firing that falls due meanwhile
            QTest::qWait(30);
        };
        w->cmdStart()->click();
        QTRY_VERIFY(!WindowRegistry::isLoaded<frmTimer>());
        QVERIFY(openWhileShown);
        QCOMPARE(failureBoxes(), 1);
        QCOMPARE(box->boxes().boxes.size(), 1);
        QCOMPARE(box->pty().drain(), atDeviceTwo ? QByteArray("a") : QByteArray());
        QCOMPARE(main->Label(1)->text(),
                 QString(atDeviceTwo ? "START TV IS CURRENTLY ON" : "OFF STATE"));
        for (int d = 2; d <= 5; ++d)
            QCOMPARE(main->Label(d)->text(), QString("OFF STATE"));
    }

    void closingDuringARunAbandonsItAndReopeningStartsAfresh() {
        frmTimer* w = open();
        setPattern(w, {"1", "1", "1", "1", "1"});
        type(w->Text12(), "2");
        w->cmdStart()->click();
        w->close();
        QVERIFY(!WindowRegistry::isLoaded<frmTimer>());
        QCOMPARE(box->pty().drain(1500), QByteArray());  // past where "00:00:01" would be
        frmTimer* again = open();
        QVERIFY(again);
        QCOMPARE(again->caption(), QString("Timer Function"));
        QVERIFY(isReady(again));
        for (int k = 1; k <= 5; ++k)
            QCOMPARE(again->Text(k)->text(), QString("0"));
        QVERIFY(box->boxes().boxes.isEmpty());
    }

    void closingWhileThePatternIsAppliedEndsThePass() {
        frmTimer* w = open();
        setPattern(w, {"1", "1", "1", "1", "1"});
        type(w->Text12(), "1");
        QTimer closer;
        closer.setInterval(5);
        connect(&closer, &QTimer::timeout, this, [&] {
            if (Module2::pauseDepth() > 0 && WindowRegistry::isLoaded<frmTimer>()) {
                WindowRegistry::find<frmTimer>()->close();
                closer.stop();
            }
        });
        closer.start();
        w->cmdStart()->click();
        QCOMPARE(box->pty().read(1), QByteArray("a"));
        QCOMPARE(box->pty().drain(600), QByteArray());
        QVERIFY(!WindowRegistry::isLoaded<frmTimer>());
        QCOMPARE(main->Label(2)->text(), QString("OFF STATE"));
        QVERIFY(box->boxes().boxes.isEmpty());
    }

    void onlyRealChangesOfTheDisplayRunItsSteps() {
        frmTimer* w = open();
        QSignalSpy changes(w->lbltime(), &platform::ChangeLabel::Change);
        type(w->Text12(), "10");
        QCOMPARE(changes.size(), 2);  // 00:00:01, then 00:00:10
        w->Text11()->setText("0");    // still ten seconds
        w->Text12()->setText("10");   // the same text
        QCOMPARE(changes.size(), 2);
        QCOMPARE(w->Text11()->text(), QString("0"));
    }
};

QTEST_MAIN(TestFrmTimer)
#include "tst_frmtimer.moc"
