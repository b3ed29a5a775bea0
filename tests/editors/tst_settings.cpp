#include <QAction>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "editors/settings.h"
#include "mainwindow/Form1.h"
#include "platform/ui/WindowRegistry.h"
#include "store/Module1.h"

using editors::settings;
using mainwindow::Form1;

using platform::WindowRegistry;

namespace {

const QStringList kStoredOn = {"START TV", "START SPRINKLER", "FRONT LIGHTS ON",
                               "START POOL FILTER", "OPEN GARAGE DOOR"};
const QStringList kStoredOff = {"STOP TV", "STOP SPINKLER", "FRONT LIGHTS OFF", "STOP POOL FILTER",
                                "CLOSE GARAGE DOOR"};

QStringList stored(bool on) {
    QStringList names;
    for (int n = 1; n <= 5; ++n)
        names << Module1::ReadSetting(on ? Setting::ONBUTTON(n) : Setting::OFFBUTTON(n));
    return names;
}

QStringList captions(Form1* f) {
    QStringList names;
    for (int n = 1; n <= 10; ++n)
        names << f->Command(n)->text();
    return names;
}

enum class CloseBy { Menu, Frame, Unload };

void closeEditor(settings* s, CloseBy how) {
    switch (how) {
        case CloseBy::Menu:
            s->findChild<QAction*>("close")->trigger();
            break;
        case CloseBy::Frame:
            s->close();
            break;
        case CloseBy::Unload:
            s->Unload();
            break;
    }
}

}  // namespace

Q_DECLARE_METATYPE(CloseBy)

class TestSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

    Form1* mainWindow() { return WindowRegistry::find<Form1>(); }

    // A fresh main window (as at the next start) with the editor opened from its menu.
    settings* openFromMenu() {
        Form1* f = WindowRegistry::show<Form1>();
        f->findChild<QAction*>("controlname")->trigger();
        return WindowRegistry::find<settings>();
    }

    Form1* restartMainWindow() {
        if (Form1* f = mainWindow())
            f->Unload();
        testsupport::flushDeletes();
        return WindowRegistry::show<Form1>();
    }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        for (int n = 1; n <= 5; ++n) {
            Module1::WriteSetting(Setting::ONBUTTON(n), kStoredOn[n - 1]);
            Module1::WriteSetting(Setting::OFFBUTTON(n), kStoredOff[n - 1]);
        }
    }
    void cleanup() { box.reset(); }

    void theEditorStandsWhereItWasDesigned() {
        settings* s = openFromMenu();
        QVERIFY(s && s->isVisible());
        QCOMPARE(s->windowTitle(), QString("Settings"));
        QCOMPARE(s->client()->size(), QSize(360, 295));
        auto geometry = [s](const char* name) { return s->findChild<QWidget*>(name)->geometry(); };
        QCOMPARE(geometry("Frame1"), QRect(16, 16, 153, 265));
        QCOMPARE(geometry("Frame2"), QRect(184, 16, 161, 265));
        QCOMPARE(geometry("Text1"), QRect(24, 40, 121, 25));
        QCOMPARE(geometry("Text5"), QRect(24, 200, 121, 25));
        QCOMPARE(geometry("Text6"), QRect(8, 24, 137, 25));
        QCOMPARE(geometry("Text10"), QRect(8, 184, 137, 25));
        QCOMPARE(geometry("Command1"), QRect(24, 248, 129, 25));
        QCOMPARE(geometry("Command2"), QRect(8, 232, 137, 25));
        QWidget* frame2 = s->findChild<QWidget*>("Frame2");
        QCOMPARE(s->Text(3)->parentWidget(), s->client());
        QCOMPARE(s->Text(8)->parentWidget(), frame2);
        QCOMPARE(s->Command2()->parentWidget(), frame2);
        QCOMPARE(s->findChild<QGroupBox*>("Frame1")->title(), QString("ON CONTROL NAMES"));
        QCOMPARE(s->findChild<QGroupBox*>("Frame2")->title(), QString("OFF CONTROL NAMES"));
        QCOMPARE(s->Command1()->text(), QString("UPDATE ON BUTTONS"));
        QCOMPARE(s->Command2()->text(), QString("UPDATE OFF BUTTONS"));
        QMenu* file = s->menuBar()->findChild<QMenu*>("file");
        QCOMPARE(file->title(), QString("File"));
        QCOMPARE(file->actions().size(), 1);
        QCOMPARE(file->actions()[0]->objectName(), QString("close"));
        QCOMPARE(file->actions()[0]->text(), QString("Close"));
    }

    void theBoxesCopyTheButtonsNotTheStore() {
        Form1* f = WindowRegistry::show<Form1>();
        f->Command(2)->setText("Lawn (unsaved)");
        f->Command(9)->setText("");
        f->controlname_Click();
        settings* s = WindowRegistry::find<settings>();
        QStringList names;
        for (int n = 1; n <= 10; ++n)
            names << s->Text(n)->text();
        QCOMPARE(names, captions(f));
        QCOMPARE(s->Text(2)->text(), QString("Lawn (unsaved)"));

        // Opening again while it is open keeps what is being typed.
        s->Text(1)->setText("typing");
        f->Command(1)->setText("changed meanwhile");
        f->controlname_Click();
        QCOMPARE(WindowRegistry::find<settings>(), s);
        QCOMPARE(s->Text(1)->text(), QString("typing"));
        QVERIFY(box->boxes().boxes.isEmpty());
    }

    void eachUpdateStoresItsOwnHalfOnly_data() {
        QTest::addColumn<bool>("on");
        QTest::newRow("UPDATE ON BUTTONS") << true;
        QTest::newRow("UPDATE OFF BUTTONS") << false;
    }
    void eachUpdateStoresItsOwnHalfOnly() {
        QFETCH(bool, on);
        settings* s = openFromMenu();
        Form1* f = mainWindow();
        const QStringList before = captions(f);
        for (int n = 1; n <= 10; ++n)
            s->Text(n)->setText(QStringLiteral(" Name %1 ").arg(n));
        QTest::mouseClick(on ? s->Command1() : s->Command2(), Qt::LeftButton);

        QStringList expected;
        for (int n = on ? 1 : 6; n <= (on ? 5 : 10); ++n)
            expected << QStringLiteral(" Name %1 ").arg(n);  // blanks and all
        QCOMPARE(stored(on), expected);
        QCOMPARE(stored(!on), on ? kStoredOff : kStoredOn);
        // The buttons only change when the editor closes.
        QCOMPARE(captions(f), before);
        QVERIFY(WindowRegistry::isLoaded<settings>());
        QVERIFY(box->boxes().boxes.isEmpty());
    }

    void closingPutsEveryNameOnTheButtonsButStoresNothing_data() {
        QTest::addColumn<CloseBy>("how");
        QTest::newRow("File > Close") << CloseBy::Menu;
        QTest::newRow("window frame") << CloseBy::Frame;
        QTest::newRow("unloaded") << CloseBy::Unload;
    }
    void closingPutsEveryNameOnTheButtonsButStoresNothing() {
        QFETCH(CloseBy, how);
        settings* s = openFromMenu();
        s->Text(1)->setText("Telly");
        s->Text(6)->setText("Telly off");
        s->Text(10)->setText("Door shut");
        closeEditor(s, how);
        QVERIFY(!WindowRegistry::isLoaded<settings>());
        QStringList expected = kStoredOn + kStoredOff;
        expected[0] = "Telly";
        expected[5] = "Telly off";
        expected[9] = "Door shut";
        QCOMPARE(captions(mainWindow()), expected);
        QCOMPARE(stored(true), kStoredOn);
        QCOMPARE(stored(false), kStoredOff);

        // The next main window shows the stored names again.
        QCOMPARE(captions(restartMainWindow()), kStoredOn + kStoredOff);
    }

    void aStoredNameSurvivesTheNextStart() {
        settings* s = openFromMenu();
        s->Text(1)->setText("Telly");
        s->Command1_Click();
        s->findChild<QAction*>("close")->trigger();
        QCOMPARE(mainWindow()->Command(1)->text(), QString("Telly"));
        QCOMPARE(restartMainWindow()->Command(1)->text(), QString("Telly"));
    }

    void anEmptyNameIsStoredAndApplied() {
        settings* s = openFromMenu();
        s->Text(3)->clear();
        s->Text(8)->clear();
        s->Command1_Click();
        s->Command2_Click();
        QCOMPARE(Module1::ReadSetting(Setting::ONBUTTON(3)), QString());
        QCOMPARE(Module1::ReadSetting(Setting::OFFBUTTON(3)), QString());
        QCOMPARE(Module1::ReadSetting(Setting::ONBUTTON(4)), kStoredOn[3]);
        s->close();
        QCOMPARE(mainWindow()->Command(3)->text(), QString());
        QCOMPARE(mainWindow()->Command(8)->text(), QString());
        QCOMPARE(restartMainWindow()->Command(3)->text(), QString());
    }

    void reopeningAfterAnUnsavedRenameShowsIt() {
        settings* s = openFromMenu();
        s->Text(7)->setText("Sprinkler off (unsaved)");
        s->close();
        testsupport::flushDeletes();
        mainWindow()->controlname_Click();
        s = WindowRegistry::find<settings>();
        QCOMPARE(s->Text(7)->text(), QString("Sprinkler off (unsaved)"));
        QCOMPARE(Module1::ReadSetting(Setting::OFFBUTTON(2)), kStoredOff[1]);
    }

    void aClosedMainWindowIsNotBroughtBackForTheNames() {
        settings* s = openFromMenu();
        s->Text(1)->setText("Telly");
        mainWindow()->close();
        testsupport::flushDeletes();
        s->close();
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        QVERIFY(!WindowRegistry::isLoaded<settings>());
        QCOMPARE(stored(true), kStoredOn);
    }

    void withoutAMainWindowTheBoxesStartFromTheStoredNames() {
        Module1::WriteSetting(Setting::OFFBUTTON(4), "Pump off");
        settings* s = WindowRegistry::show<settings>();
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        QCOMPARE(s->Text(1)->text(), kStoredOn[0]);
        QCOMPARE(s->Text(9)->text(), QString("Pump off"));
        // A main window loaded meanwhile keeps its names when the untouched editor closes.
        Form1* f = WindowRegistry::load<Form1>();
        s->close();
        QCOMPARE(f->Command(9)->text(), QString("Pump off"));
        QCOMPARE(f->Command(1)->text(), kStoredOn[0]);
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
