#include <QAction>
#include <QLineEdit>
#include <QtTest>

#include "../support/TestSupport.h"
#include "mainwindow/Form1.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/settings/SettingsBackend.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/internetsettings.h"
#include "store/Module1.h"
#include "support/HttpTestServer.h"

using mainwindow::Form1;
using remote::internetsettings;

using platform::WindowRegistry;

namespace {

const QString kConfigureFirst =
    " You must set the internet settings first for this feature to work";
const QString kNowOn =
    " Remote control via the internet is now On, your devices will be controlled via your "
    "webpage! Please keep both screens open, (you may minimize them but do not close)";
const QString kNowOff =
    " Remote control via the internet is now OFF, your devices will be controlled locally only";

QString storedSwitch() {
    return Module1::ReadSetting(QString::fromLatin1(Setting::internet));
}

}  // namespace

class TestInternetSwitch : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<testhttp::Server> server;
    Form1* form = nullptr;

    // What the world looked like while the message box was open.
    struct AtTheBox {
        QString stored;
        bool windowLoaded = false;
    };
    QList<AtTheBox> seen;

    void choose(const char* item) { form->findChild<QAction*>(item)->trigger(); }
    const QList<testsupport::RecordingMessageBox::Box>& boxes() { return box->boxes().boxes; }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        server = std::make_unique<testhttp::Server>();
        server->setTitle("/remote", "00000");
        form = WindowRegistry::show<Form1>();
        seen.clear();
        box->boxes().onShow = [this](const auto&) {
            seen.append({storedSwitch(), WindowRegistry::isLoaded<internetsettings>()});
        };
    }
    void cleanup() {
        box.reset();
        server.reset();
    }

    void turningOnWithoutASavedAddress() {
        choose("oncon");
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, kConfigureFirst);
        QCOMPARE(boxes()[0].style, int(platform::vbInformation));
        QCOMPARE(boxes()[0].title, QString("Configure Settings"));
        QCOMPARE(seen[0].stored, QString("interneton"));
        QVERIFY(!WindowRegistry::isLoaded<internetsettings>());
        QCOMPARE(form->text20()->text(), QString());
    }

    void turningOnWithASavedAddress_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("page") << "@";
        QTest::newRow("blanks count as saved") << "   ";
    }
    void turningOnWithASavedAddress() {
        QFETCH(QString, address);
        if (address == "@")
            address = server->url("/remote");
        Module1::WriteSetting(Setting::Address, address);
        choose("oncon");
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, kNowOn);
        QCOMPARE(boxes()[0].style, int(platform::vbInformation));
        QCOMPARE(boxes()[0].title, QString("Internet On"));
        // Stored first; the window opens once the user has closed the box.
        QCOMPARE(seen[0].stored, QString("interneton"));
        QVERIFY(!seen[0].windowLoaded);
        QCOMPARE(form->text20()->text(), address);
        internetsettings* w = WindowRegistry::find<internetsettings>();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->Text1()->text(), address);
        QVERIFY(w->Timer1()->Enabled() && w->Timer3()->Enabled());
    }

    void turningOnWhileTheWindowIsOpenOnlyShowsItAgain() {
        Module1::WriteSetting(Setting::Address, server->url("/remote"));
        internetsettings* w = WindowRegistry::show<internetsettings>();
        w->Text1()->setText("typed, not saved");
        w->hide();
        choose("oncon");
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, kNowOn);
        QCOMPARE(WindowRegistry::find<internetsettings>(), w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->Text1()->text(), QString("typed, not saved"));
    }

    void turningOffStopsPollingBeforeTellingTheUser_data() {
        QTest::addColumn<bool>("windowOpen");
        QTest::newRow("window open") << true;
        QTest::newRow("window closed") << false;
    }
    void turningOffStopsPollingBeforeTellingTheUser() {
        QFETCH(bool, windowOpen);
        Module1::WriteSetting(Setting::internet, "interneton");
        Module1::WriteSetting(Setting::Address, server->url("/remote"));
        if (windowOpen)
            WindowRegistry::show<internetsettings>();
        choose("off");
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, kNowOff);
        QCOMPARE(boxes()[0].style, int(platform::vbInformation));
        QCOMPARE(boxes()[0].title, QString("Internet OFF"));
        QCOMPARE(seen[0].stored, QString("internetoff"));
        QVERIFY(!seen[0].windowLoaded);
        QVERIFY(!WindowRegistry::isLoaded<internetsettings>());
        QCOMPARE(box->pty().drain(), QByteArray());
    }

    void setupEntryOpensTheWindowWithoutTouchingTheSwitch() {
        choose("internet");
        QVERIFY(WindowRegistry::find<internetsettings>()->isVisible());
        QVERIFY(!platform::SettingsBackend::read(Module1::RegistryPath(), Setting::internet));
        QVERIFY(boxes().isEmpty());
    }
};

QTEST_MAIN(TestInternetSwitch)
#include "tst_internetswitch.moc"
