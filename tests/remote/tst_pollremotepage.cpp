#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "mainwindow/Form1.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/ui/Colors.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/internetsettings.h"
#include "store/Module1.h"
#include "support/HttpTestServer.h"

using mainwindow::Form1;
using remote::internetsettings;

using platform::WindowRegistry;
using testhttp::Response;

namespace {

const int kRefresh = 300;  // the refresh time the tests poll with; the poll clock gets 200 ms

}  // namespace

class TestPollRemotePage : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<testhttp::Server> server;
    Form1* form = nullptr;
    internetsettings* poller = nullptr;

    // Opens the internet settings window on the test server's page, which shows "00000" and
    // has been seen by the poller; the line is quiet.
    void startPolling() {
        server->setTitle("/remote", "00000");
        Module1::WriteSetting(Setting::Address, server->url("/remote"));
        Module1::WriteSetting(Setting::timer1, QString::number(kRefresh));
        poller = WindowRegistry::show<internetsettings>();
        poller->Text2()->setText(QString::number(kRefresh));
        poller->Command2()->click();
        QTRY_COMPARE(poller->WebBrowser1()->LocationName(), QString("00000"));
        QTRY_COMPARE(poller->Text9()->text(), QString("00000"));
        // On a slow machine the first page can arrive after the first poll is due; that poll
        // rightly switches device 1 off. Either way the tests start from a quiet line.
        QTRY_VERIFY(!poller->Timer3()->Enabled());
        const QByteArray early = box->pty().drain(300);
        QVERIFY2(early.isEmpty() || early == "b", early.constData());
    }

    // Serves a new title and returns what went out on the line for it.
    QByteArray change(const QString& title, int bytes = 1) {
        server->setTitle("/remote", title);
        return box->pty().read(bytes, 4000);
    }

    QString status(int device) const { return form->Label(device)->text(); }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        server = std::make_unique<testhttp::Server>();
        testsupport::storeFactoryNames();
        form = WindowRegistry::show<Form1>();
    }
    void cleanup() {
        box.reset();
        server.reset();
        platform::WebBrowser::trustAuthorities({});
    }

    void aChangedTitleSwitchesDeviceOneOncePerChange() {
        // The first poll comes a second after creation; the page is there before it.
        server->setTitle("/remote", "00000");
        Module1::WriteSetting(Setting::Address, server->url("/remote"));
        Module1::WriteSetting(Setting::timer1, QString::number(kRefresh));
        internetsettings* w = WindowRegistry::show<internetsettings>();
        QCOMPARE(box->pty().drain(1500), QByteArray());
        QCOMPARE(w->Text30()->text(), QString("00000"));
        w->Text2()->setText(QString::number(kRefresh));
        w->Command2()->click();

        // The poll comes one poll interval after the new title is first reported.
        QElapsedTimer sinceSeen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!sinceSeen.isValid() && w->WebBrowser1()->LocationName() == "10000")
                sinceSeen.start();
        });
        watch.start(1);
        QCOMPARE(change("10000"), QByteArray("a"));
        QVERIFY(sinceSeen.isValid());
        QVERIFY2(sinceSeen.elapsed() >= kRefresh - 100 - 20 &&
                     sinceSeen.elapsed() < testsupport::allowMs(1500),
                 qPrintable(QString::number(sinceSeen.elapsed())));
        QCOMPARE(status(1), QString("START TV IS CURRENTLY ON"));
        QCOMPARE(platform::backColor(form->Label(1)), platform::kColorGreen);

        // Nothing more while the title stays, over at least five reloads.
        const int reloads = server->hits("/remote");
        QTRY_VERIFY_WITH_TIMEOUT(server->hits("/remote") >= reloads + 5,
                                 testsupport::allowMs(10000));
        QCOMPARE(box->pty().drain(), QByteArray());

        QCOMPARE(change("11111"), QByteArray("a"));
        QCOMPARE(change("00101"), QByteArray("b"));
        QCOMPARE(box->pty().drain(600), QByteArray());
        QCOMPARE(status(1), QString("STOP TV IS CURRENTLY OFF"));
        QCOMPARE(status(3), QString("OFF STATE"));
        QCOMPARE(status(5), QString("OFF STATE"));
        QCOMPARE(w->Text4()->text(), QString("0"));
        QCOMPARE(w->Text6()->text(), QString("1"));
        QCOMPARE(w->Text8()->text(), QString("1"));

        QCOMPARE(change("1"), QByteArray("a"));
        QCOMPARE(w->Text4()->text(), QString("1"));
        for (QLineEdit* rest : {w->Text5(), w->Text6(), w->Text7(), w->Text8()})
            QCOMPARE(rest->text(), QString());
    }

    void thePollTestsTheFirstCharacterTwice() {
        // The second test reads the first character again after the ON action's pause, during
        // which a reload may have rewritten it: both commands then go out.
        startPolling();
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(change("10000"), QByteArray("a"));
        // No reload tick of our own may put the "1" back during the pause.
        poller->Text2()->setText("60000");
        poller->Command2()->click();
        QTimer::singleShot(50, poller, [this] { poller->Text4()->setText("0"); });
        poller->Timer3()->fire();
        QCOMPARE(box->pty().read(2), QByteArray("ab"));
        QCOMPARE(status(1), QString("STOP TV IS CURRENTLY OFF"));
    }

    void aTitleLongerThanATextBoxHoldsIsPolledOnce() {
        // Cut to a text box's usual 32767 characters, the copy would never equal the title and
        // every watcher tick would look like a change.
        startPolling();
        if (QTest::currentTestFailed())
            return;
        const QString longTitle = "1" + QString(40000, u'0');
        QCOMPARE(change(longTitle), QByteArray("a"));
        QCOMPARE(poller->Text30()->text(), longTitle);
        const int reloads = server->hits("/remote");
        QTRY_VERIFY_WITH_TIMEOUT(server->hits("/remote") >= reloads + 3,
                                 testsupport::allowMs(5000));
        QCOMPARE(box->pty().drain(), QByteArray());
    }

    void titlesThatSendNothing_data() {
        QTest::addColumn<QByteArray>("page");  // the whole page served
        QTest::addColumn<int>("httpStatus");
        QTest::newRow("empty title") << QByteArray("<title></title>") << 200;
        QTest::newRow("no-break space first") << QByteArray("<title>&nbsp;10000</title>") << 200;
        // The title is compared as the page has it: blanks before the digits are not stripped.
        QTest::newRow("blank first") << QByteArray("<title> 10000</title>") << 200;
        QTest::newRow("line break first") << QByteArray("<title>\n10000\n</title>") << 200;
        QTest::newRow("tab as a reference first") << QByteArray("<title>&#9;00000</title>") << 200;
        QTest::newRow("other first character") << QByteArray("<title>x1000</title>") << 200;
        QTest::newRow("two") << QByteArray("<title>20000</title>") << 200;
        QTest::newRow("no title") << QByteArray("<p>10000</p>") << 200;
        QTest::newRow("error page") << QByteArray("<title>10000</title>") << 404;
    }
    void titlesThatSendNothing() {
        QFETCH(QByteArray, page);
        QFETCH(int, httpStatus);
        startPolling();
        if (QTest::currentTestFailed())
            return;
        internetsettings* w = poller;
        Response r = Response::page(page);
        r.status = httpStatus;
        r.reason = httpStatus == 200 ? "OK" : "Not Found";
        server->serve("/remote", r);
        QTRY_VERIFY(w->WebBrowser1()->LocationName() != "00000");
        const QString name = w->WebBrowser1()->LocationName();
        QTRY_COMPARE(w->Text30()->text(), name);  // polled or copied, and seen
        QCOMPARE(box->pty().drain(800), QByteArray());
        QCOMPARE(status(1), QString("OFF STATE"));
    }

    // Reloads faster than the poll clock would copy each new title before the poll fell due,
    // and no change would be acted on: every change must still switch device 1.
    void aShortRefreshTimePollsEveryChange_data() {
        QTest::addColumn<QString>("refresh");
        QTest::addColumn<bool>("byUpdate");
        for (const char* r : {"600", "100", "50", "1"}) {
            QTest::newRow(qPrintable(QString("%1 ms stored").arg(r))) << QString(r) << false;
            QTest::newRow(qPrintable(QString("%1 ms by Update").arg(r))) << QString(r) << true;
        }
    }
    void aShortRefreshTimePollsEveryChange() {
        QFETCH(QString, refresh);
        QFETCH(bool, byUpdate);
        server->setTitle("/remote", "00000");
        Module1::WriteSetting(Setting::Address, server->url("/remote"));
        Module1::WriteSetting(Setting::timer1, byUpdate ? QString("3000") : refresh);
        internetsettings* w = WindowRegistry::show<internetsettings>();
        if (byUpdate) {
            w->Text2()->setText(refresh);
            w->Command2()->click();
        }
        QVERIFY(w->Timer3()->Interval() <= w->Timer1()->Interval());
        QTRY_COMPARE(w->Text9()->text(), QString("00000"));
        QTRY_VERIFY(!w->Timer3()->Enabled());
        box->pty().drain(300);
        const int before = server->hits("/remote");
        const std::pair<const char*, const char*> steps[] = {
            {"10000", "a"}, {"00000", "b"}, {"11000", "a"}, {"11000 ", "a"}, {"01", "b"}};
        for (const auto& [title, letter] : steps)
            QCOMPARE(change(title), QByteArray(letter));
        QCOMPARE(box->pty().drain(800), QByteArray());
        // The page was reloaded all along, not once per change.
        QVERIFY(server->hits("/remote") > before + 5);
    }

    void aSecurePageIsPolledOnlyWhenItsCertificateVerifies_data() {
        QTest::addColumn<QString>("certificate");  // tests/support/fixtures/tls/<name>.pem
        QTest::addColumn<QString>("name");         // the page's name once its load has ended
        const QString notLoaded = QStringLiteral("Page not loaded: the certificate ");
        QTest::newRow("from the trusted test authority") << "sound"
                                                         << "10000";
        QTest::newRow("self-signed") << "selfsigned" << notLoaded + "is self-signed";
        QTest::newRow("expired") << "expired" << notLoaded + "has expired";
        QTest::newRow("not valid yet") << "notyet" << notLoaded + "is not valid yet";
        QTest::newRow("for another server") << "otherhost" << notLoaded + "is for another server";
        QTest::newRow("from an authority nobody trusts")
            << "untrusted" << notLoaded + "comes from an authority that is not trusted";
    }
    void aSecurePageIsPolledOnlyWhenItsCertificateVerifies() {
        QFETCH(QString, certificate);
        QFETCH(QString, name);
        const auto fixture = [](const QString& file) {
            return QFINDTESTDATA(QStringLiteral("../support/fixtures/tls/") + file);
        };
        platform::WebBrowser::trustAuthorities(QSslCertificate::fromPath(fixture("authority.pem")));
        testhttp::Server tls(fixture(certificate + ".pem"), fixture("server.key"));
        tls.setTitle("/remote", "10000");
        Module1::WriteSetting(Setting::Address, tls.url("/remote"));
        Module1::WriteSetting(Setting::timer1, QString::number(kRefresh));
        internetsettings* w = WindowRegistry::show<internetsettings>();
        QTRY_COMPARE_WITH_TIMEOUT(w->WebBrowser1()->LocationName(), name,
                                  testsupport::allowMs(10000));
        if (name == "10000") {
            QCOMPARE(box->pty().read(1, 4000), QByteArray("a"));
            tls.setTitle("/remote", "00000");
            QCOMPARE(box->pty().read(1, 4000), QByteArray("b"));
            return;
        }
        // Refused at the handshake, again at every reload: no request, no title, no command.
        QTRY_VERIFY(tls.refusedHandshakes() >= 2);
        QCOMPARE(box->pty().drain(800), QByteArray());
        QCOMPARE(tls.requests().size(), 0);
        QCOMPARE(w->WebBrowser1()->LocationName(), name);
    }

    void noReloadIsAskedForWhileAPageIsLoading() {
        startPolling();
        if (QTest::currentTestFailed())
            return;
        internetsettings* w = poller;
        server->serve("/remote", Response::titled("00000").in(Response::Mode::Hold));
        QTRY_COMPARE(server->held(), 1);
        const int asked = server->hits("/remote");
        QTest::qWait(5 * kRefresh);
        QCOMPARE(server->hits("/remote"), asked);
        QCOMPARE(w->WebBrowser1()->ReadyState(), int(platform::WebBrowser::READYSTATE_LOADING));
        QVERIFY(!w->Timer1()->Enabled());
        server->setTitle("/remote", "00000");
        server->release();
        QTRY_VERIFY(w->Timer1()->Enabled());
        QTRY_VERIFY(server->hits("/remote") > asked);
    }

    void minimisedItPollsAndUnloadedItStops() {
        startPolling();
        if (QTest::currentTestFailed())
            return;
        internetsettings* w = poller;
        w->showMinimized();
        QCOMPARE(change("10000"), QByteArray("a"));
        w->findChild<QAction*>("exit")->trigger();
        testsupport::flushDeletes();
        const int asked = server->hits("/remote");
        server->setTitle("/remote", "00000");
        QCOMPARE(box->pty().drain(3 * kRefresh), QByteArray());
        QCOMPARE(server->hits("/remote"), asked);
    }

    void aFailedWriteIsToldOncePerRunAndPollingGoesOn() {
        const auto told = [this] {
            int n = 0;
            for (const auto& b : box->boxes().boxes)
                n += b.title == "Internet Control";
            return n;
        };
        // The board's port cannot be opened: every command from the poller fails.
        form->close();
        testsupport::flushDeletes();
        box->removePort();
        startPolling();
        if (QTest::currentTestFailed())
            return;
        internetsettings* w = poller;
        server->setTitle("/remote", "10000");
        QTRY_COMPARE(told(), 1);
        QCOMPARE(box->boxes().boxes.last().style, int(platform::vbExclamation));
        QVERIFY(box->boxes().boxes.last().text.contains("device 1 on"));
        QCOMPARE(WindowRegistry::find<Form1>()->Label(1)->text(), QString("OFF STATE"));
        server->setTitle("/remote", "00000");
        QTRY_COMPARE(w->Text30()->text(), QString("00000"));
        const int asked = server->hits("/remote");
        QTRY_VERIFY(server->hits("/remote") > asked + 2);
        QCOMPARE(told(), 1);

        // The board is back: the next command goes through and ends the run.
        qputenv("DOMIVOX_COM1", box->pty().slavePath().toLocal8Bit());
        WindowRegistry::find<Form1>()->close();
        testsupport::flushDeletes();
        QCOMPARE(change("10000"), QByteArray("a"));
        QCOMPARE(told(), 1);

        // A new run of failures is told again.
        WindowRegistry::find<Form1>()->close();
        testsupport::flushDeletes();
        box->removePort();
        server->setTitle("/remote", "00000");
        QTRY_COMPARE(told(), 2);
        QVERIFY(box->boxes().boxes.last().text.contains("device 1 off"));
    }

    void theFirstPollUsesWhateverTheLoaderReports() {
        // A page slower than the first poll: the poll sees its address, which sends nothing;
        // the title arriving later is a change like any other.
        Response slow = Response::titled("10000").in(Response::Mode::Hold);
        server->serve("/remote", slow);
        Module1::WriteSetting(Setting::Address, server->url("/remote"));
        internetsettings* w = WindowRegistry::show<internetsettings>();
        // The first poll has run once the address stands in Text30.
        QTRY_COMPARE_WITH_TIMEOUT(w->Text30()->text(), server->url("/remote"),
                                  testsupport::allowMs(5000));
        QCOMPARE(box->pty().drain(), QByteArray());
        server->release();
        QCOMPARE(box->pty().read(1, 4000), QByteArray("a"));
    }
};

QTEST_MAIN(TestPollRemotePage)
#include "tst_pollremotepage.moc"
