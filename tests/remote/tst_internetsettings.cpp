#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

#include "../support/TestSupport.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/settings/SettingsBackend.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/internetsettings.h"
#include "store/Module1.h"
#include "support/HttpTestServer.h"

using remote::internetsettings;

using platform::WindowRegistry;

namespace {

bool isStored(const char* name) {
    return platform::SettingsBackend::read(Module1::RegistryPath(), QString::fromLatin1(name))
        .has_value();
}

QString stored(const char* name) {
    return Module1::ReadSetting(QString::fromLatin1(name));
}

}  // namespace

class TestInternetSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<testhttp::Server> server;

    internetsettings* open() { return WindowRegistry::show<internetsettings>(); }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        server = std::make_unique<testhttp::Server>();
    }
    void cleanup() {
        box.reset();
        server.reset();
    }

    void windowAsDesigned() {
        internetsettings w;  // created, not loaded: the design state
        QCOMPARE(w.caption(), QString("Internet Settings"));
        const auto frameOf = [&w](QWidget* control) {
            auto* frame = qobject_cast<QGroupBox*>(control->parentWidget());
            return frame ? frame->title() : QString();
        };
        QCOMPARE(frameOf(w.Text2()), QString("Refresh Time"));
        QCOMPARE(frameOf(w.Label1()), QString("Refresh Time"));
        QCOMPARE(frameOf(w.Command2()), QString("Refresh Time"));
        QCOMPARE(frameOf(w.Text1()), QString("Internet Address"));
        QCOMPARE(frameOf(w.Command1()), QString("Internet Address"));
        QCOMPARE(frameOf(w.WebBrowser1()), QString("Preview"));
        QCOMPARE(frameOf(w.Text3()), QString("How to use and configure"));
        QCOMPARE(w.Text1()->text(), QString("Type Address"));
        QCOMPARE(w.Text2()->text(), QString("10000"));
        QCOMPARE(w.Label1()->text(), QString("This is in milliseconds"));
        QCOMPARE(w.Command1()->text(), QString("Save Address"));
        QCOMPARE(w.Command2()->text(), QString("Update"));
        QCOMPARE(w.Text3()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(w.findChild<QAction*>("exit")->text(), QString("Exit"));

        QCOMPARE(w.Text30()->text(), QString("00000"));
        QCOMPARE(w.Text9()->text(), QString("Text9"));
        for (QLineEdit* hidden :
             {w.Text30(), w.Text4(), w.Text5(), w.Text6(), w.Text7(), w.Text8(), w.Text9()})
            QVERIFY(hidden->isHidden());
        QVERIFY(!w.Timer1()->Enabled());
        QCOMPARE(w.Timer2()->Interval(), 1);
        QCOMPARE(w.Timer3()->Interval(), 1000);
        QCOMPARE(w.Timer4()->Interval(), 10);
        QVERIFY(w.Timer2()->Enabled() && w.Timer3()->Enabled() && w.Timer4()->Enabled());
    }

    void instructionsCoverTheFivePointsInOrder() {
        internetsettings w;
        const QString text = w.Text3()->toPlainText();
        QVERIFY2(text.size() > 800 && text.size() < 1500, qPrintable(QString::number(text.size())));
        qsizetype at = 0;
        for (const char* point :
             {"READ THESE DIRECTIONS", "www.myhouse.example", "TITLE", "00101", "10000", "00000",
              "free hosting", "holds nothing", "a year", "Hosting", ".example)"}) {
            const qsizetype next = text.indexOf(QLatin1String(point), at);
            QVERIFY2(next >= at, point);
            at = next;
        }
        // Paragraphs, which the box wraps: no line ends inside a sentence.
        for (const QString& paragraph : text.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(paragraph.endsWith('.'), qPrintable(paragraph));
    }

    void firstOpeningWithNothingStored() {
        internetsettings* w = open();
        QCOMPARE(w->Text1()->text(), QString());
        QCOMPARE(w->Text2()->text(), QString("3000"));
        QCOMPARE(w->Timer1()->Interval(), 3000);
        QVERIFY(w->Timer1()->Enabled());
        QCOMPARE(w->Timer3()->Interval(), 1000);
        QVERIFY(!isStored(Setting::Address));
        QVERIFY(!isStored(Setting::timer1));
        QTRY_COMPARE(w->WebBrowser1()->LocationName(), QString("about:blank"));
    }

    void storedRefreshTimeSetsTheReloadClock_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("poll");
        QTest::newRow("whole") << "1500" << 1500 << 1000;
        QTest::newRow("blanks around") << " 4000 " << 4000 << 1000;
        QTest::newRow("half to even, down") << "2500.5" << 2500 << 1000;
        QTest::newRow("half to even, up") << "2501.5" << 2502 << 1000;
        QTest::newRow("not a number") << "abc" << 3000 << 1000;
        QTest::newRow("zero") << "0" << 3000 << 1000;
        QTest::newRow("negative") << "-5" << 3000 << 1000;
        QTest::newRow("too large") << "1e12" << 3000 << 1000;
        QTest::newRow("infinite") << "inf" << 3000 << 1000;
        // Reloads faster than the poll clock would lose every change: it gets R - 100.
        QTest::newRow("600") << "600" << 600 << 500;
        QTest::newRow("1099") << "1099" << 1099 << 999;
        QTest::newRow("1100") << "1100" << 1100 << 1000;
        QTest::newRow("1099.5 rounds to 1100") << "1099.5" << 1100 << 1000;
        QTest::newRow("1000.5") << "1000.5" << 1000 << 900;
        QTest::newRow("101") << "101" << 101 << 1;
        // At 100 ms and below the poll clock gets 1 ms: never slower than the reloads.
        QTest::newRow("100") << "100" << 100 << 1;
        QTest::newRow("50") << "50" << 50 << 1;
        QTest::newRow("1") << "1" << 1 << 1;
        QTest::newRow("0.6 rounds to 1") << "0.6" << 1 << 1;
    }
    void storedRefreshTimeSetsTheReloadClock() {
        QFETCH(QString, stored);
        QFETCH(int, interval);
        QFETCH(int, poll);
        Module1::WriteSetting(Setting::timer1, stored);
        internetsettings* w = open();
        QVERIFY(w);
        QCOMPARE(w->Text2()->text(), stored);
        QCOMPARE(w->Timer1()->Interval(), interval);
        QVERIFY(w->Timer1()->Enabled());
        QCOMPARE(w->Timer3()->Interval(), poll);
    }

    void update_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("reload");
        QTest::addColumn<int>("poll");
        QTest::addColumn<bool>("reloadRunning");
        QTest::newRow("10000") << "10000"
                               << "10000" << 10000 << 9900 << true;
        QTest::newRow("empty") << ""
                               << "30000" << 30000 << 29900 << true;
        QTest::newRow("half to even") << "1000.5"
                                      << "1000.5" << 1000 << 900 << true;
        QTest::newRow("half to even, poll up") << "1001.5"
                                               << "1001.5" << 1002 << 902 << true;
        QTest::newRow("not a number") << "abc"
                                      << "abc" << 3000 << 1000 << false;
        QTest::newRow("too large") << "1e12"
                                   << "1e12" << 3000 << 1000 << false;
        QTest::newRow("100") << "100"
                             << "100" << 100 << 1 << true;
        QTest::newRow("below 100") << "50"
                                   << "50" << 50 << 1 << true;
        QTest::newRow("1") << "1"
                           << "1" << 1 << 1 << true;
        QTest::newRow("101") << "101"
                             << "101" << 101 << 1 << true;
    }
    void update() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, reload);
        QFETCH(int, poll);
        QFETCH(bool, reloadRunning);
        internetsettings* w = open();
        w->Text2()->setText(typed);
        w->Command2()->click();
        QCOMPARE(w->Text2()->text(), shown);
        QCOMPARE(stored(Setting::timer1), shown);
        QCOMPARE(w->Timer1()->Interval(), reload);
        QCOMPARE(w->Timer3()->Interval(), poll);
        QCOMPARE(w->Timer1()->Enabled(), reloadRunning);
        QVERIFY(box->boxes().boxes.isEmpty());
        // A stopped reload clock is started again by the readiness watcher once the page is
        // complete, with whatever interval it has.
        QTRY_VERIFY(w->Timer1()->Enabled());
        QCOMPARE(w->Timer1()->Interval(), reload);
    }

    void updateNeitherReloadsNorNavigates() {
        Module1::WriteSetting(Setting::Address, server->url("/page"));
        Module1::WriteSetting(Setting::timer1, "60000");
        server->setTitle("/page", "00000");
        internetsettings* w = open();
        QTRY_COMPARE(w->WebBrowser1()->LocationName(), QString("00000"));
        w->Text2()->setText("50000");
        w->Command2()->click();
        QTest::qWait(300);
        QCOMPARE(server->hits("/page"), 1);
        QCOMPARE(w->WebBrowser1()->ReadyState(), int(platform::WebBrowser::READYSTATE_COMPLETE));
    }

    void reopeningStartsAgainFromTheStoredValues() {
        internetsettings* w = open();
        w->Text2()->setText("10000");
        w->Command2()->click();
        QCOMPARE(w->Timer3()->Interval(), 9900);
        w->findChild<QAction*>("exit")->trigger();
        QVERIFY(!WindowRegistry::isLoaded<internetsettings>());
        testsupport::flushDeletes();
        w = open();
        QCOMPARE(w->Text2()->text(), QString("10000"));
        QCOMPARE(w->Timer1()->Interval(), 10000);
        QCOMPARE(w->Timer3()->Interval(), 1000);
        QCOMPARE(w->Text30()->text(), QString("00000"));
        QCOMPARE(w->Text9()->text(), QString("Text9"));
    }

    void saveAddressStoresAndLoadsAnyText_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("name");  // "@": the typed text names the page
        QTest::newRow("page") << "@"
                              << "10000";
        QTest::newRow("empty") << ""
                               << "about:blank";
        QTest::newRow("blanks") << "   "
                                << "about:blank";
    }
    void saveAddressStoresAndLoadsAnyText() {
        QFETCH(QString, typed);
        QFETCH(QString, name);
        if (typed == "@")
            typed = server->url("/page");
        server->setTitle("/page", "10000");
        Module1::WriteSetting(Setting::Address, server->url("/elsewhere"));
        internetsettings* w = open();
        QTRY_COMPARE(w->WebBrowser1()->ReadyState(),
                     int(platform::WebBrowser::READYSTATE_COMPLETE));
        w->Text1()->setText(typed);
        w->Command1()->click();
        QCOMPARE(stored(Setting::Address), typed);
        QVERIFY(w->Timer1()->Enabled());
        QTRY_COMPARE(w->WebBrowser1()->LocationName(), name);
    }

    void theReloadClockFollowsThePageShown() {
        server->serve("/stored", testhttp::Response::page(
                                     "<title>00000</title><a href=\"/followed\">next</a>"));
        server->setTitle("/followed", "00000");
        Module1::WriteSetting(Setting::Address, server->url("/stored"));
        Module1::WriteSetting(Setting::timer1, "100");
        internetsettings* w = open();
        QTRY_COMPARE(server->hits("/stored"), 3);
        Q_EMIT w->WebBrowser1()->preview()->anchorClicked(QUrl("/followed"));
        const int stayed = server->hits("/stored");
        QTRY_VERIFY(server->hits("/followed") >= 3);
        QVERIFY(server->hits("/stored") <= stayed + 1);  // one reload may have been under way
    }

    void closingUnloadsAndMinimisingDoesNot() {
        internetsettings* w = open();
        w->showMinimized();
        QTest::qWait(50);
        QVERIFY(WindowRegistry::isLoaded<internetsettings>());
        QVERIFY(w->Timer2()->isCounting() && w->Timer4()->isCounting());
        platform::IntervalTimer* watcher = w->Timer4();
        w->close();
        QVERIFY(!WindowRegistry::isLoaded<internetsettings>());
        QVERIFY(watcher->isDead());
    }
};

QTEST_MAIN(TestInternetSettings)
#include "tst_internetsettings.moc"
