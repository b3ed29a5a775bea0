#include "lock/password.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "device/MainPanel.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/settings/SettingsWatch.h"
#include "platform/ui/Controls.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Twips.h"
#include "store/Module1.h"

using platform::placeTwips;

namespace {

const char* const kIncorrect = " Password Incorrect, please re-enter";
const char* const kLocked = " The screen is now locked";
const char* const kWrongOld =
    " Password Incorrext, please enter old password in box above and new below";
const char* const kSaved = " Your new password is now saved, please re-enter this screen";

QLineEdit* makePasswordBox(QWidget* parent, const char* name, int left, int top, int width,
                           int height) {
    QLineEdit* box = platform::addTextBox(parent, name, QString(), left, top, width, height);
    box->setEchoMode(QLineEdit::Password);
    // Every style has its own mask character; the lock shows "*".
    box->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    return box;
}

}  // namespace

namespace lock {

password::password() {
    setObjectName(QStringLiteral("password"));
    setCaption(QStringLiteral("Admin Area"));
    setClientSizeTwips(4695, 3495);
    QWidget* c = client();

    using platform::addButton;
    frame1_ = platform::addFrame(c, "Frame1", "Please Enter your password!", 120, 120, 4455, 1695);
    text1_ = makePasswordBox(frame1_, "Text1", 240, 360, 3975, 315);
    command1_ = addButton(frame1_, "Command1", "Lock Program", 240, 840, 1935, 615);
    command2_ = addButton(frame1_, "Command2", "Unlock Program", 2280, 840, 1935, 615);

    frame2_ = platform::addFrame(c, "Frame2", "Enter New Password", 120, 1920, 4455, 1455);
    text3_ = makePasswordBox(frame2_, "Text3", 240, 360, 3975, 315);
    command3_ = addButton(frame2_, "Command3", "New Password", 240, 840, 1935, 495);

    text2_ = platform::addTextBox(c, "Text2", "Text2", 3240, 3000, 1215, 285);
    text2_->hide();

    timer1_ = addTimer(QStringLiteral("Timer1"), 1, true, [this] { Timer1_Timer(); });
    // Right after a tick Text2 holds the stored password, and only a change of the settings file
    // can make it stale: sleep until the file's folder reports one.
    timer1_->sleepWhile([] { return true; });
    timer1_->wakeOn(new platform::SettingsWatch(this), &platform::SettingsWatch::changed);

    connect(command1_, &QPushButton::clicked, this, &password::Command1_Click);
    connect(command2_, &QPushButton::clicked, this, &password::Command2_Click);
    connect(command3_, &QPushButton::clicked, this, &password::Command3_Click);
}

void password::Timer1_Timer() {
    const QString stored = Module1::ReadSetting(QString::fromLatin1(Setting::password));
    if (text2_->text() != stored)
        text2_->setText(stored);
}

bool password::passwordMatches() {
    // The clock keeps Text2 current, but a press can come before its first tick or after a
    // stretch in which the event loop was too busy to run it: read once more so the press is
    // never judged against an older copy of the password than the clock promises.
    Timer1_Timer();
    return text1_->text() == text2_->text();
}

void password::Command1_Click() {
    if (!passwordMatches()) {
        platform::MsgBox(QString::fromLatin1(kIncorrect), platform::vbOKOnly);
        return;
    }
    // Only a main window that exists is locked: the lock does not bring back one the user
    // closed.
    if (device::MainPanel* main = device::findMainPanel())
        main->window().setEnabled(false);
    platform::MsgBox(QString::fromLatin1(kLocked), platform::vbInformation,
                     QStringLiteral("admin area only"));
}

void password::Command2_Click() {
    if (!passwordMatches()) {
        platform::MsgBox(QString::fromLatin1(kIncorrect), platform::vbOKOnly);
        return;
    }
    if (device::MainPanel* main = device::findMainPanel())
        main->window().setEnabled(true);
    Unload();
}

void password::Command3_Click() {
    if (!passwordMatches()) {
        platform::MsgBox(QString::fromLatin1(kWrongOld), platform::vbOKOnly);
        return;
    }
    Module1::WriteSetting(QString::fromLatin1(Setting::password), text3_->text());
    platform::MsgBox(QString::fromLatin1(kSaved), platform::vbInformation,
                     QStringLiteral("Thank you"));
}

}  // namespace lock
