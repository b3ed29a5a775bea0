// Sleeping watchers must be invisible: one scripted run of the whole panel, replayed with the
// clocks ticking literally and with sleeping watchers, must put the same bytes on the line in the
// same order and leave the same hidden fields after every step.

#include <cstring>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "lock/password.h"
#include "mainwindow/Form1.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/ui/ChangeLabel.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/internetsettings.h"
#include "schedule/frmTimer.h"
#include "store/Module1.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

using lock::password;
using mainwindow::Form1;
using remote::internetsettings;
using schedule::frmTimer;

using platform::IntervalTimer;
using platform::WindowRegistry;
using testsupport::allowMs;

namespace {

const char* const kWritePassword = "--write-password";

// One step of the run as it was seen: what went out on the line and every hidden field after it.
struct Step {
    QString name;
    QByteArray bytes;
    QStringList fields;
};

QString clock(const IntervalTimer* t) {
    return QStringLiteral("%1:%2/%3")
        .arg(t->objectName(), t->Enabled() ? "on" : "off")
        .arg(t->Interval());
}

}  // namespace

class TestSleepingClocks : public QObject {
    Q_OBJECT

    testsupport::Sandbox* box = nullptr;
    testhttp::Server* server = nullptr;
    Form1* form = nullptr;
    internetsettings* internet = nullptr;
    frmTimer* timer = nullptr;
    password* lock = nullptr;
    bool sleeping = false;
    QList<Step> steps;

    QStringList fields() const {
        QStringList f;
        if (internet) {
            for (QLineEdit* t :
                 {internet->Text30(), internet->Text4(), internet->Text5(), internet->Text6(),
                  internet->Text7(), internet->Text8(), internet->Text9()})
                f << t->objectName() + "=" + t->text();
            for (IntervalTimer* t :
                 {internet->Timer1(), internet->Timer2(), internet->Timer3(), internet->Timer4()})
                f << "internet." + clock(t);
            f << QStringLiteral("ReadyState=%1").arg(internet->WebBrowser1()->ReadyState());
            f << "LocationName=" + internet->WebBrowser1()->LocationName();
        }
        if (timer) {
            f << "lbltime=" + timer->lbltime()->text() << "Text11=" + timer->Text11()->text()
              << "Text12=" + timer->Text12()->text()
              << QStringLiteral("warning=%1").arg(timer->lblwarning()->isVisible())
              << QStringLiteral("cmdStart=%1").arg(timer->cmdStart()->isEnabled())
              << "timer." + clock(timer->Timer1()) << "timer." + clock(timer->Timer2())
              << "caption=" + timer->caption();
        }
        f << (lock ? "Text2=" + lock->Text2()->text() : QStringLiteral("lock window closed"));
        f << QStringLiteral("Form1 enabled=%1").arg(form->isEnabled());
        for (int n = 1; n <= 5; ++n)
            f << form->Label(n)->text();
        for (const auto& b : box->boxes().boxes)
            f << "box:" + b.text;
        return f;
    }

    // The poller at rest: the page in, the reload clock on, the title copied everywhere, no poll
    // pending. Nothing but the next reload can change its fields from here.
    bool pollerAtRest() const {
        const QString name = internet->WebBrowser1()->LocationName();
        return internet->WebBrowser1()->ReadyState() == platform::WebBrowser::READYSTATE_COMPLETE &&
               internet->Timer1()->Enabled() && !internet->Timer3()->Enabled() &&
               internet->Text30()->text() == name && internet->Text9()->text() == name;
    }

    // Ends a step: what the line carried, then the fields once everything has come to rest.
    void record(const QString& name, const QByteArray& sent, const QByteArray& expected) {
        const QByteArray bytes = sent + box->pty().drain(300);
        QCOMPARE(bytes, expected);
        QTRY_VERIFY_WITH_TIMEOUT(pollerAtRest(), allowMs(3000));
        steps << Step{name, bytes, fields()};
        if (sleeping) {
            // The point of it all: at rest the watchers do not tick.
            QTRY_VERIFY_WITH_TIMEOUT(internet->Timer4()->isAsleep(), allowMs(1000));
            QTRY_VERIFY_WITH_TIMEOUT(pollerAtRest() && internet->Timer2()->isAsleep(),
                                     allowMs(3000));
            if (lock)
                QTRY_VERIFY_WITH_TIMEOUT(lock->Timer1()->isAsleep(), allowMs(1000));
        }
    }

    // Reloads at once, outside the reload clock, and waits until the new title is in.
    void reloadTo(const QString& title) {
        server->setTitle("/remote", title);
        internet->WebBrowser1()->Refresh2();
        QTRY_COMPARE_WITH_TIMEOUT(internet->WebBrowser1()->LocationName(), title, allowMs(3000));
    }

    void writePasswordFromOutside(const QString& value) {
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {kWritePassword, value});
        QVERIFY(writer.waitForFinished(allowMs(10000)));
        QCOMPARE(writer.exitCode(), 0);
    }

    void script() {
        server->setTitle("/remote", "10000");
        server->setTitle("/other", "11000");
        Module1::WriteSetting(Setting::Address, server->url("/remote"));
        // Slower than the poll clock, so the poll clock keeps its 1000 ms at load.
        Module1::WriteSetting(Setting::timer1, "1500");
        Module1::WriteSetting(Setting::password, "inside");
        form = WindowRegistry::show<Form1>();
        timer = WindowRegistry::show<frmTimer>();
        lock = WindowRegistry::show<password>();

        // The poll clock runs from creation: the first poll a second later, on the page's title.
        QElapsedTimer created;
        created.start();
        internet = WindowRegistry::show<internetsettings>();
        const QByteArray first = box->pty().read(1, allowMs(3000));
        QVERIFY2(created.elapsed() >= 990 && created.elapsed() <= 1000 + allowMs(400),
                 qPrintable(QString::number(created.elapsed())));
        record("first poll", first, "a");

        // A title change reached by the reload clock.
        server->setTitle("/remote", "11111");
        record("changed title", box->pty().read(1, allowMs(4000)), "a");

        // Two changes before the poll fires: only the latest is polled.
        reloadTo("00000");
        reloadTo("10101");
        record("two changes, one poll", box->pty().read(1, allowMs(3000)), "a");

        // A reload tick that copies the new title before the change watcher compares it: that
        // change is not polled.
        auto* wb = internet->WebBrowser1();
        const auto early = connect(wb, &platform::WebBrowser::loadEnded, this, [this] {
            internet->Text30()->setText(internet->WebBrowser1()->LocationName());
            internet->splitText30();
        });
        reloadTo("00000");
        disconnect(early);
        record("copied before compared", box->pty().drain(1500), "");

        // Update: fresh intervals for the reload and the poll clock.
        internet->Text2()->setText("400");
        internet->Command2()->click();
        record("update", box->pty().drain(600), "");
        server->setTitle("/remote", "00101");
        record("changed after update", box->pty().read(1, allowMs(3000)), "b");

        // Save Address: a new page, its address first, then its title.
        internet->Text1()->setText(server->url("/other"));
        internet->Command1()->click();
        record("save address", box->pty().read(1, allowMs(3000)), "a");

        // A countdown with a pattern, the poller reloading meanwhile.
        const char* pattern = "10110";
        for (int k = 1; k <= 5; ++k)
            timer->Text(k)->setText(QString(QLatin1Char(pattern[k - 1])));
        timer->Text12()->setText("3");
        timer->cmdStart()->click();
        QTRY_COMPARE_WITH_TIMEOUT(timer->lbltime()->text(), QString("00:00:02"), allowMs(3000));
        if (sleeping)
            QTRY_VERIFY_WITH_TIMEOUT(timer->Timer2()->isAsleep(), allowMs(500));
        const QByteArray applied = box->pty().read(5, allowMs(5000));
        QTRY_VERIFY_WITH_TIMEOUT(timer->cmdStart()->isEnabled(), allowMs(3000));
        record("countdown", applied, "adegj");

        // The password changed by another program: the hidden copy follows, the next press
        // is judged by it.
        writePasswordFromOutside("outside-1");
        QTRY_COMPARE_WITH_TIMEOUT(lock->Text2()->text(), QString("outside-1"), allowMs(1000));
        record("password from outside", {}, "");
        lock->Text1()->setText("inside");
        lock->Command1()->click();
        QVERIFY(form->isEnabled());
        lock->Text1()->setText("outside-1");
        lock->Command1()->click();
        QVERIFY(!form->isEnabled());
        record("lock", {}, "");
        // Changed again and pressed at once, before any clock could have run.
        writePasswordFromOutside("outside-2");
        lock->Text1()->setText("outside-2");
        lock->Command2()->click();
        QVERIFY(form->isEnabled());
        QVERIFY(lock->isUnloaded());
        lock = nullptr;
        record("unlock", {}, "");
    }

    QList<Step> run(bool literal) {
        IntervalTimer::setLiteralTicking(literal);
        sleeping = !literal;
        steps.clear();
        {
            testsupport::Sandbox sandbox;
            testhttp::Server http;
            box = &sandbox;
            server = &http;
            testsupport::storeFactoryNames();
            script();
            WindowRegistry::unloadAll();
            internet = nullptr;
            timer = nullptr;
            lock = nullptr;
            box = nullptr;
            server = nullptr;
        }
        IntervalTimer::setLiteralTicking(false);
        return steps;
    }

private Q_SLOTS:
    void literalAndSleepingRunsAgree() {
        const QList<Step> literal = run(true);
        if (QTest::currentTestFailed())
            return;
        const QList<Step> asleep = run(false);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(asleep.size(), literal.size());
        for (qsizetype i = 0; i < literal.size(); ++i) {
            QCOMPARE(asleep[i].name, literal[i].name);
            QCOMPARE(asleep[i].bytes, literal[i].bytes);
            // Field by field, so a difference names its field.
            QCOMPARE(asleep[i].fields.size(), literal[i].fields.size());
            for (qsizetype k = 0; k < literal[i].fields.size(); ++k)
                QCOMPARE(asleep[i].name + ": " + asleep[i].fields[k],
                         literal[i].name + ": " + literal[i].fields[k]);
        }
    }
};

int main(int argc, char** argv) {
    // The other program that writes the password, started by the test itself.
    if (argc == 3 && std::strcmp(argv[1], kWritePassword) == 0) {
        QCoreApplication app(argc, argv);
        Module1::WriteSetting(Setting::password, QString::fromUtf8(argv[2]));
        return 0;
    }
    QApplication app(argc, argv);
    TestSleepingClocks test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sleepingclocks.moc"
