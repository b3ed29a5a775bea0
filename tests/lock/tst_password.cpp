#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QtTest>

#include "../support/TestSupport.h"
#include "device/Module2.h"
#include "editors/caption1.h"
#include "lock/password.h"
#include "mainwindow/Form1.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/ui/WindowRegistry.h"
#include "store/Module1.h"

using editors::caption1;
using lock::password;
using mainwindow::Form1;

using platform::WindowRegistry;

namespace {

const QString kIncorrect = " Password Incorrect, please re-enter";
const QString kLocked = " The screen is now locked";
const QString kWrongOld =
    " Password Incorrext, please enter old password in box above and new below";
const QString kSaved = " Your new password is now saved, please re-enter this screen";

QString storedPassword() {
    return Module1::ReadSetting(Setting::password);
}

}  // namespace

class TestPassword : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

    const QList<testsupport::RecordingMessageBox::Box>& boxes() { return box->boxes().boxes; }

    // The main window, then the lock window opened from its menu, as a user gets there.
    password* openFromMenu() {
        Form1* main = WindowRegistry::show<Form1>();
        main->findChild<QAction*>("lock")->trigger();
        return WindowRegistry::find<password>();
    }

    Form1* mainWindow() { return WindowRegistry::find<Form1>(); }

    void press(password* p, int button, const QString& entry) {
        p->Text1()->setText(entry);
        QPushButton* b = button == 1 ? p->Command1() : button == 2 ? p->Command2() : p->Command3();
        QTest::mouseClick(b, Qt::LeftButton);
    }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        Module1::WriteSetting(Setting::ONBUTTON(1), "START TV");
    }
    void cleanup() { box.reset(); }

    void theWindowShowsItsControls() {
        password* p = openFromMenu();
        QVERIFY(p);
        QVERIFY(p->isVisible());
        QCOMPARE(p->windowTitle(), QString("Admin Area"));
        QCOMPARE(p->findChild<QGroupBox*>("Frame1")->title(),
                 QString("Please Enter your password!"));
        QCOMPARE(p->findChild<QGroupBox*>("Frame2")->title(), QString("Enter New Password"));
        QCOMPARE(p->Text1()->parentWidget(), p->findChild<QWidget*>("Frame1"));
        QCOMPARE(p->Command2()->parentWidget(), p->findChild<QWidget*>("Frame1"));
        QCOMPARE(p->Text3()->parentWidget(), p->findChild<QWidget*>("Frame2"));
        QCOMPARE(p->Command1()->text(), QString("Lock Program"));
        QCOMPARE(p->Command2()->text(), QString("Unlock Program"));
        QCOMPARE(p->Command3()->text(), QString("New Password"));
        QVERIFY(p->Text2()->isHidden());
        QCOMPARE(p->Timer1()->Interval(), 1);
        QVERIFY(p->Timer1()->isCounting());
        for (QLineEdit* entry : {p->Text1(), p->Text3()}) {
            QVERIFY(entry->isVisible());
            QCOMPARE(entry->text(), QString());
            QTest::keyClicks(entry, "aB3 x");
            QCOMPARE(entry->text(), QString("aB3 x"));
            QCOMPARE(entry->displayText(), QString("*****"));
        }
        // Opening it again brings the same window forward.
        mainWindow()->lock_Click();
        QCOMPARE(WindowRegistry::find<password>(), p);
        QCOMPARE(p->Text1()->text(), QString("aB3 x"));
    }

    void withNothingStoredOnlyTheEmptyEntryPasses_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("a letter") << "a" << false;
        QTest::newRow("a blank") << " " << false;
        // The hidden copy's design text must never stand in for the stored password.
        QTest::newRow("design text") << "Text2" << false;
    }
    void withNothingStoredOnlyTheEmptyEntryPasses() {
        QFETCH(QString, entry);
        QFETCH(bool, accepted);
        password* p = openFromMenu();
        press(p, 1, entry);
        QCOMPARE(!mainWindow()->isEnabled(), accepted);
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, accepted ? kLocked : kIncorrect);
        QCOMPARE(boxes()[0].style, accepted ? 64 : 0);
        QCOMPARE(boxes()[0].title, accepted ? QString("admin area only") : QString("Domivox"));
        QVERIFY(WindowRegistry::isLoaded<password>());

        press(p, 2, entry);
        QVERIFY(mainWindow()->isEnabled());
        QCOMPARE(WindowRegistry::isLoaded<password>(), !accepted);
        QCOMPARE(boxes().size(), accepted ? 1 : 2);
        if (!accepted)
            QCOMPARE(boxes()[1].text, kIncorrect);
        QCOMPARE(storedPassword(), QString());
    }

    void aWrongPasswordChangesNothing_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("message");
        QTest::newRow("lock") << 1 << false << kIncorrect;
        QTest::newRow("unlock while locked") << 2 << true << kIncorrect;
        QTest::newRow("new password") << 3 << false << kWrongOld;
        QTest::newRow("new password while locked") << 3 << true << kWrongOld;
    }
    void aWrongPasswordChangesNothing() {
        QFETCH(int, button);
        QFETCH(bool, locked);
        QFETCH(QString, message);
        Module1::WriteSetting(Setting::password, "Secret");
        password* p = openFromMenu();
        if (locked)
            press(p, 1, "Secret");
        const int before = boxes().size();
        p->Text3()->setText("Takeover");
        press(p, button, "Wrong");
        QCOMPARE(boxes().size(), before + 1);
        QCOMPARE(boxes().last().text, message);
        QCOMPARE(boxes().last().style, 0);
        QCOMPARE(boxes().last().title, QString("Domivox"));
        QCOMPARE(mainWindow()->isEnabled(), !locked);
        QCOMPARE(storedPassword(), QString("Secret"));
        QVERIFY(WindowRegistry::isLoaded<password>());
        QCOMPARE(p->Text1()->text(), QString("Wrong"));
        QCOMPARE(p->Text3()->text(), QString("Takeover"));
    }

    void letterCaseAndBlanksMatter_data() {
        QTest::addColumn<QString>("entry");
        QTest::newRow("lower case") << "secret";
        QTest::newRow("upper case") << "SECRET";
        QTest::newRow("trailing blank") << "Secret ";
        QTest::newRow("leading blank") << " Secret";
    }
    void letterCaseAndBlanksMatter() {
        QFETCH(QString, entry);
        Module1::WriteSetting(Setting::password, "Secret");
        password* p = openFromMenu();
        press(p, 1, entry);
        QVERIFY(mainWindow()->isEnabled());
        QCOMPARE(boxes().last().text, kIncorrect);
        press(p, 1, "Secret");
        QVERIFY(!mainWindow()->isEnabled());
    }

    void aLockedMainWindowTakesNoInputUntilUnlocked() {
        Module1::WriteSetting(Setting::password, "Secret");
        password* p = openFromMenu();
        press(p, 1, "Secret");
        QCOMPARE(boxes().last().text, kLocked);
        QVERIFY(p->isVisible());
        QTest::mouseClick(mainWindow()->Command(1), Qt::LeftButton);
        QCOMPARE(box->pty().drain(), QByteArray());
        QCOMPARE(mainWindow()->Label(1)->text(), QString("OFF STATE"));

        // Locking again changes nothing but says so again.
        press(p, 1, "Secret");
        QVERIFY(!mainWindow()->isEnabled());
        QCOMPARE(boxes().size(), 2);

        press(p, 2, "Secret");
        QVERIFY(mainWindow()->isEnabled());
        QVERIFY(!WindowRegistry::isLoaded<password>());
        QCOMPARE(boxes().size(), 2);
        QTest::mouseClick(mainWindow()->Command(1), Qt::LeftButton);
        QCOMPARE(box->pty().read(1), QByteArray("a"));
    }

    void unlockWhileNotLockedClosesTheWindow() {
        password* p = openFromMenu();
        press(p, 2, "");
        QVERIFY(mainWindow()->isEnabled());
        QVERIFY(!WindowRegistry::isLoaded<password>());
        QVERIFY(boxes().isEmpty());
        QVERIFY(!box->ended());
    }

    void closingTheLockByItsFrameLeavesTheMainWindowLocked() {
        password* p = openFromMenu();
        press(p, 1, "");
        p->close();
        QVERIFY(!WindowRegistry::isLoaded<password>());
        QVERIFY(!mainWindow()->isEnabled());
        QVERIFY(mainWindow()->isVisible());
    }

    void aNewPasswordAppliesAtTheVeryNextPress() {
        Module1::WriteSetting(Setting::password, "old one");
        password* p = openFromMenu();
        p->Text3()->setText("New One");
        press(p, 3, "old one");
        QCOMPARE(storedPassword(), QString("New One"));
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, kSaved);
        QCOMPARE(boxes()[0].style, 64);
        QCOMPARE(boxes()[0].title, QString("Thank you"));
        QVERIFY(p->isVisible());
        QCOMPARE(p->Text1()->text(), QString("old one"));
        QCOMPARE(p->Text3()->text(), QString("New One"));

        // No event runs in between: the next press already knows the new password.
        QTest::mouseClick(p->Command1(), Qt::LeftButton);
        QCOMPARE(boxes().last().text, kIncorrect);
        QVERIFY(mainWindow()->isEnabled());
        press(p, 1, "New One");
        QVERIFY(!mainWindow()->isEnabled());
        press(p, 3, "old one");
        QCOMPARE(boxes().last().text, kWrongOld);
        QCOMPARE(storedPassword(), QString("New One"));
    }

    void anEmptyNewPasswordIsStored() {
        Module1::WriteSetting(Setting::password, "Secret");
        password* p = openFromMenu();
        press(p, 3, "Secret");
        QCOMPARE(boxes().last().text, kSaved);
        QVERIFY(QFile(box->settingsFile()).exists());
        QCOMPARE(storedPassword(), QString());
        press(p, 1, "Secret");
        QCOMPARE(boxes().last().text, kIncorrect);
        press(p, 1, "");
        QVERIFY(!mainWindow()->isEnabled());
    }

    void aPasswordChangedByAnotherProgramIsSeen() {
        Module1::WriteSetting(Setting::password, "first");
        password* p = openFromMenu();
        QTRY_COMPARE(p->Text2()->text(), QString("first"));

        // Another program rewrites the file the way editors do: a new file moved into place.
        QFile current(box->settingsFile());
        QVERIFY(current.open(QIODevice::ReadOnly));
        QByteArray text = current.readAll();
        current.close();
        QVERIFY(text.contains("password=\"first\""));
        text.replace("password=\"first\"", "password=\"second\"");
        QSaveFile replacement(box->settingsFile());
        QVERIFY(replacement.open(QIODevice::WriteOnly));
        replacement.write(text);
        QVERIFY(replacement.commit());

        // At once, before the clock has had a chance: the press reads the store itself.
        press(p, 1, "second");
        QVERIFY(!mainWindow()->isEnabled());
        // And the clock keeps the hidden copy current on its own.
        Module1::WriteSetting(Setting::password, "third");
        QTRY_COMPARE(p->Text2()->text(), QString("third"));
    }

    void whileLockedTheRestOfTheProgramWorks() {
        password* p = openFromMenu();
        caption1* editor = WindowRegistry::show<caption1>();
        press(p, 1, "");
        QVERIFY(!mainWindow()->isEnabled());
        QVERIFY(editor->isEnabled());
        QVERIFY(p->isEnabled());

        Module2::DeviceAction(1, true);
        QCOMPARE(box->pty().read(1), QByteArray("a"));
        QCOMPARE(mainWindow()->Label(1)->text(), QString("START TV IS CURRENTLY ON"));
        QVERIFY(!mainWindow()->isEnabled());
    }

    void lockingWithoutAMainWindowBringsNoneBack() {
        password* p = openFromMenu();
        mainWindow()->close();
        testsupport::flushDeletes();
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        press(p, 1, "");
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        press(p, 2, "");
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        QVERIFY(!WindowRegistry::isLoaded<password>());
    }
};

QTEST_MAIN(TestPassword)
#include "tst_password.moc"
