#include "startup/disclaim.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include "device/MainPanel.h"
#include "platform/app/AppInfo.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Twips.h"
#include "store/Module1.h"

using platform::placeTwips;

namespace {

// One paragraph a line; the box wraps them at its own width, so no line ends inside a sentence.
const char* const kParagraphs[] = {
    "By using this program you will not hold Quennart responsible for any damages or injuries "
    "this program may cause.",
    "This software should not be used to operate dangerous, harmful, life saving or any other "
    "device in which someone could be injured.  ",
    "We are not responsible for any software glitches.",
    "Use the readme file to understand correct operation of this software before use.",
    "Enjoy and have fun.  If you like our software, we do custom designs please email us for more "
    "information.  Our email is custom@quennart.example.",
};

}  // namespace

namespace startup {

disclaim::disclaim() {
    setObjectName(QStringLiteral("disclaim"));
    setCaption(QStringLiteral("Disclaimer"));
    setClientSizeTwips(8415, 3900);

    frame1_ = new QGroupBox(QStringLiteral("You must read before use!"), client());
    frame1_->setObjectName(QStringLiteral("Frame1"));
    placeTwips(frame1_, 360, 120, 7815, 3615);

    text1_ = new QPlainTextEdit(frame1_);
    text1_->setObjectName(QStringLiteral("Text1"));
    // CR LF pairs end the paragraphs; the view breaks at the LF and has no use for the CR.
    text1_->setPlainText(disclaimerText().remove(QLatin1Char('\r')));
    text1_->setReadOnly(true);
    text1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    placeTwips(text1_, 240, 360, 7335, 1935);

    check1_ =
        platform::addCheckBox(frame1_, "Check1", "I agree to the disclaimer", 240, 2880, 2055, 495);
    command1_ = platform::addButton(frame1_, "Command1", "I disagree", 5640, 2880, 1935, 495);

    setTabOrder(text1_, check1_);
    setTabOrder(check1_, command1_);

    connect(check1_, &QCheckBox::clicked, this, &disclaim::Check1_Click);
    connect(command1_, &QPushButton::clicked, this, &disclaim::Command1_Click);
}

QString disclaim::disclaimerText() {
    QString text;
    for (const char* paragraph : kParagraphs)
        text += QString::fromLatin1(paragraph) + QStringLiteral("\r\n");
    return text;
}

QString disclaim::placeholderName() {
    return QStringLiteral("Unnamed device");
}

std::vector<std::pair<QString, QString>> disclaim::acceptanceSettings() {
    const QString first = QStringLiteral("Please select name");
    std::vector<std::pair<QString, QString>> settings;
    // The acceptance goes first: whatever happens to the writes after it, the disclaimer is not
    // asked again.
    settings.emplace_back(QString::fromLatin1(Setting::disclaimer), QStringLiteral("1"));
    settings.emplace_back(Setting::ONBUTTON(1), first);
    for (int n = 2; n <= 5; ++n)
        settings.emplace_back(Setting::ONBUTTON(n), placeholderName());
    settings.emplace_back(Setting::OFFBUTTON(1), first);
    for (int n = 2; n <= 5; ++n)
        settings.emplace_back(Setting::OFFBUTTON(n), placeholderName());
    return settings;
}

void disclaim::Check1_Click() {
    for (const auto& [name, value] : acceptanceSettings())
        Module1::WriteSetting(name, value);
    device::showMainPanel();
    Unload();
}

void disclaim::Command1_Click() {
    Unload();
    platform::App::End();
}

void disclaim::closeEvent(QCloseEvent* event) {
    // Nothing has been stored and no other window is open: closing is refusing.
    event->ignore();
    Command1_Click();
}

}  // namespace startup
