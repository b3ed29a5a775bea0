#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include "../support/TestSupport.h"
#include "mainwindow/Form1.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/WindowRegistry.h"
#include "startup/disclaim.h"
#include "startup/frmSplash.h"
#include "store/Module1.h"

using mainwindow::Form1;
using startup::disclaim;
using startup::frmSplash;

using platform::WindowRegistry;

class TestFrmSplash : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

    QLabel* label(QWidget* w, const char* name) { return w->findChild<QLabel*>(name); }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        // As in the program: the program ends when its last visible window goes.
        WindowRegistry::setEndWhenLastWindowCloses(true);
    }
    void cleanup() {
        WindowRegistry::setEndWhenLastWindowCloses(false);
        box.reset();
    }

    // ---- the window ---------------------------------------------------------------------

    void aBorderedWindowWithoutTitleOrControlsCentredOnTheScreen() {
        frmSplash s;
        const Qt::WindowFlags flags = s.windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::SplashScreen);
        QVERIFY(flags & Qt::FramelessWindowHint);
        QVERIFY(!(flags &
                  (Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)));
        QVERIFY(s.windowTitle().isEmpty());
        QCOMPARE(s.client()->size(), QSize(492, 283));
        QCOMPARE(s.minimumSize(), s.maximumSize());
        // The border lies around the client area.
        QVERIFY(s.width() > 492 && s.height() > 283);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(s.geometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(s.geometry().center().y() - screen.center().y()) <= 1);
    }

    void controlsStandInTheirFrameAsDesigned() {
        frmSplash s;
        auto* frame = s.findChild<QGroupBox*>("Frame1");
        QVERIFY(frame);
        QVERIFY(frame->title().isEmpty());
        QCOMPARE(frame->geometry(), QRect(10, 4, 472, 270));

        QLabel* logo = label(&s, "imgLogo");
        QCOMPARE(logo->parentWidget(), frame);
        QCOMPARE(logo->geometry(), QRect(24, 53, 113, 119));
        QVERIFY(logo->hasScaledContents());
        QCOMPARE(logo->pixmap().size(), QSize(300, 300));

        struct Expected {
            const char* name;
            const char* text;
            QPoint at;
            double points;
            bool bold;
            bool right;
        };
        const Expected labels[] = {
            {"lblCompanyProduct",
             "Control it, run it, use it, anywhere",
             {32, 24},
             18,
             true,
             false},
            {"lblProductName", "Product", {168, 64}, 21.75, true, false},
            {"lblPlatform", "Platform", {372, 156}, 15.75, true, true},
            {"lblVersion", "Version", {398, 180}, 12, true, true},
            {"lblLicenseTo", "LicenseTo", {8, 8}, 8.25, false, true},
            {"lblCopyright", "Copyright", {304, 204}, 8.25, false, false},
            {"lblCompany", "Company", {304, 218}, 8.25, false, false},
        };
        for (const Expected& e : labels) {
            QLabel* l = label(&s, e.name);
            QVERIFY2(l, e.name);
            QCOMPARE(l->parentWidget(), frame);
            QCOMPARE(l->text(), QString(e.text));
            QCOMPARE(l->pos(), e.at);
            QCOMPARE(l->font(), platform::designFont("Arial", e.points, e.bold));
            QCOMPARE(bool(l->alignment() & Qt::AlignRight), e.right);
        }
        QCOMPARE(label(&s, "lblLicenseTo")->width(), 457);
        QCOMPARE(label(&s, "lblCopyright")->width(), 161);
        QCOMPARE(label(&s, "lblCompany")->width(), 161);
        // The labels that size themselves fit their text.
        QCOMPARE(label(&s, "lblProductName")->size(), label(&s, "lblProductName")->sizeHint());

        QCOMPARE(s.Timer2()->objectName(), QString("Timer2"));
        QCOMPARE(s.Timer2()->Interval(), 2500);
        QVERIFY(!s.Timer2()->Enabled());
    }

    void theVersionTextIsThreePlainNumbers_data() {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<int>("revision");
        QTest::addColumn<QString>("text");
        QTest::newRow("1.0.0") << 1 << 0 << 0 << "Version 1.0.0";
        QTest::newRow("2.10.3") << 2 << 10 << 3 << "Version 2.10.3";
        QTest::newRow("large") << 12 << 345 << 6789 << "Version 12.345.6789";
    }
    void theVersionTextIsThreePlainNumbers() {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(int, revision);
        QFETCH(QString, text);
        QCOMPARE(frmSplash::versionText(major, minor, revision), text);
    }

    // ---- the decision -------------------------------------------------------------------

    void withTheDisclaimerAcceptedTheSplashShowsForTwoAndAHalfSeconds() {
        Module1::WriteSetting(Setting::disclaimer, "1");
        Module1::WriteSetting(Setting::ONBUTTON(1), "Pump on");
        Module1::WriteSetting(Setting::OFFBUTTON(1), "Pump off");
        testsupport::ShowWatcher watcher;
        QElapsedTimer elapsed;
        elapsed.start();
        frmSplash* s = WindowRegistry::show<frmSplash>();
        QVERIFY(s);
        QVERIFY(s->isVisible());
        QCOMPARE(label(s, "lblVersion")->text(), QString("Version 1.0.0"));
        QCOMPARE(label(s, "lblProductName")->text(), QString("Domivox"));
        QCOMPARE(label(s, "lblProductName")->size(), label(s, "lblProductName")->sizeHint());
        // The longer version text grows to the left and stays inside the frame.
        const frmSplash design;
        const QLabel* designVersion = design.findChild<QLabel*>("lblVersion");
        const QLabel* version = label(s, "lblVersion");
        QVERIFY(version->width() > designVersion->width());
        QCOMPARE(version->x() + version->width(), designVersion->x() + designVersion->width());
        QVERIFY(s->Timer2()->Enabled());
        QVERIFY(!WindowRegistry::isLoaded<disclaim>());
        QVERIFY(!WindowRegistry::isLoaded<Form1>());

        QTRY_VERIFY_WITH_TIMEOUT(WindowRegistry::isLoaded<Form1>(), testsupport::allowMs(15000));
        QVERIFY2(elapsed.elapsed() >= 2500, qPrintable(QString::number(elapsed.elapsed())));
        Form1* main = WindowRegistry::find<Form1>();
        QVERIFY(main->isVisible());
        QCOMPARE(main->Command(1)->text(), QString("Pump on"));
        QCOMPARE(main->Command(6)->text(), QString("Pump off"));
        QVERIFY(!WindowRegistry::isLoaded<frmSplash>());
        QCOMPARE(watcher.shown("disclaim"), 0);
        QVERIFY(!box->ended());
        // The tick came once: the main window is not opened a second time.
        QTest::qWait(100);
        QCOMPARE(watcher.shown("Form1"), 1);
    }

    void keysClicksAndCloseRequestsDoNotShortenTheSplash() {
        Module1::WriteSetting(Setting::disclaimer, "1");
        QElapsedTimer elapsed;
        elapsed.start();
        frmSplash* s = WindowRegistry::show<frmSplash>();
        QVERIFY(s);
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space, Qt::Key_Enter})
            QTest::keyClick(s, key);
        QTest::keyClick(s, Qt::Key_F4, Qt::AltModifier);
        QTest::mouseClick(s, Qt::LeftButton);
        QTest::mouseDClick(s, Qt::LeftButton);
        QTest::mouseClick(label(s, "imgLogo"), Qt::LeftButton);
        QTest::mouseClick(label(s, "lblProductName"), Qt::RightButton);
        QVERIFY(!s->close());
        QVERIFY(s->isVisible());
        QVERIFY(WindowRegistry::isLoaded<frmSplash>());
        QVERIFY(!WindowRegistry::isLoaded<Form1>());

        QTRY_VERIFY_WITH_TIMEOUT(WindowRegistry::isLoaded<Form1>(), testsupport::allowMs(15000));
        QVERIFY2(elapsed.elapsed() >= 2500, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(!WindowRegistry::isLoaded<frmSplash>());
    }

    void anythingButExactlyOneOpensTheDisclaimerWithoutShowingTheSplash_data() {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("value");
        QTest::newRow("never written") << false << QString();
        QTest::newRow("empty") << true << "";
        QTest::newRow("blank before") << true << " 1";
        QTest::newRow("blank after") << true << "1 ";
        QTest::newRow("leading zero") << true << "01";
        QTest::newRow("True") << true << "True";
        QTest::newRow("zero") << true << "0";
        QTest::newRow("line break after") << true << "1\n";
        QTest::newRow("other digit") << true << "2";
    }
    void anythingButExactlyOneOpensTheDisclaimerWithoutShowingTheSplash() {
        QFETCH(bool, stored);
        QFETCH(QString, value);
        if (stored)
            Module1::WriteSetting(Setting::disclaimer, value);
        testsupport::ShowWatcher watcher;
        QVERIFY(!WindowRegistry::show<frmSplash>());
        QVERIFY(!WindowRegistry::isLoaded<frmSplash>());
        QCOMPARE(watcher.shown("frmSplash"), 0);
        disclaim* d = WindowRegistry::find<disclaim>();
        QVERIFY(d);
        QVERIFY(d->isVisible());
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        QVERIFY(!box->ended());
        // Deciding reads the setting and writes nothing.
        QCOMPARE(Module1::ReadSetting(Setting::disclaimer), value);
        if (!stored)
            QVERIFY(!QFile::exists(box->settingsFile()));
    }

    void theHandOverLeavesNoTimerBehind() {
        WindowRegistry::show<frmSplash>();
        QVERIFY(WindowRegistry::isLoaded<disclaim>());
        QTest::qWait(3000);
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        QVERIFY(WindowRegistry::find<disclaim>()->isVisible());
    }

    void aSecondStartAfterAcceptanceShowsTheSplashNotTheDisclaimer() {
        WindowRegistry::show<frmSplash>();
        disclaim* d = WindowRegistry::find<disclaim>();
        QVERIFY(d);
        d->Check1()->click();
        QVERIFY(WindowRegistry::isLoaded<Form1>());
        // The program ends here; the next start begins from what was stored.
        WindowRegistry::setEndWhenLastWindowCloses(false);
        WindowRegistry::unloadAll();
        testsupport::flushDeletes();
        WindowRegistry::setEndWhenLastWindowCloses(true);

        testsupport::ShowWatcher watcher;
        frmSplash* s = WindowRegistry::show<frmSplash>();
        QVERIFY(s);
        QVERIFY(s->isVisible());
        QVERIFY(!WindowRegistry::isLoaded<disclaim>());
        s->Timer2()->fire();
        Form1* main = WindowRegistry::find<Form1>();
        QVERIFY(main && main->isVisible());
        QCOMPARE(main->Command(1)->text(), QString("Please select name"));
        QCOMPARE(main->Command(2)->text(), QString("Unnamed device"));
        QCOMPARE(watcher.shown("disclaim"), 0);
    }
};

QTEST_MAIN(TestFrmSplash)
#include "tst_frmsplash.moc"
