#include "remote/internetsettings.h"

#include <climits>
#include <cmath>
#include <optional>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

#include "platform/Errors.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/text/Numbers.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Twips.h"
#include "platform/web/WebBrowser.h"
#include "remote/PollRemotePage.h"
#include "store/Module1.h"

using platform::placeTwips;

namespace {

// How to use the feature, one paragraph a line: the box wraps them at its own width.
const char* const kInstructions =
    "PLEASE READ THESE DIRECTIONS FIRST - INTERNET CONTROL WILL NOT WORK UNLESS IT IS SET UP AS "
    "SHOWN HERE.\r\n"
    "\r\n"
    "Remote control takes its orders from a web page that belongs to you. You can change that "
    "page from any computer, wherever you are. Type its address in the box above, for example "
    "www.myhouse.example, and press Save Address.\r\n"
    "\r\n"
    "The only thing you ever edit is the TITLE of the page. The title is a row of 1s and 0s: 1 "
    "means the device is to be ON, 0 means it is to be OFF. A title looks like this: 00101 - and "
    "that is all the title may hold: no words, no spaces.\r\n"
    "\r\n"
    "To turn on device 1 only, make the title 10000 and save the page from wherever you are: "
    "device 1 turns on. To turn it off again, make the title 00000.\r\n"
    "\r\n"
    "That is all there is to it. You can get a page for nothing from a free hosting service, but "
    "free pages often get adverts added, and this works best on a page that holds nothing but the "
    "digits, so a free page may give you trouble. A domain name costs about $10 a year and "
    "hosting about $5 a month, for example from Brightnest Hosting (www.brightnest.example).";

// The refresh time as the user typed it, read as a number; nothing when it is not one.
std::optional<double> toNumber(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The nearest whole number, a half going to the even neighbour; nothing outside an int.
std::optional<int> toWhole(double value) {
    const double whole = platform::roundHalfToEven(value);
    // Written so that NaN is refused too rather than converted.
    if (!(whole >= double(INT_MIN) && whole <= double(INT_MAX)))
        return std::nullopt;
    return static_cast<int>(whole);
}

std::optional<int> toInterval(const QString& text, double minus = 0.0) {
    const std::optional<double> value = toNumber(text);
    if (!value)
        return std::nullopt;
    return toWhole(*value - minus);
}

// The poll clock's interval for a refresh time that is a whole number of milliseconds from 1 up:
// the refresh time less 100, but never below 1 ms. The poll must fall due before the reload that
// follows a change: that reload copies the new title and the change watcher then stops the poll.
// A refresh time of 100 ms or less would give the poll no interval at all, and reloads would
// then hide every change; 1 ms polls a change as soon as the watcher has seen it.
std::optional<int> pollIntervalFor(const QString& refreshText) {
    const std::optional<int> reload = toInterval(refreshText);
    if (reload && *reload >= 1 && *reload <= 100)
        return 1;
    return toInterval(refreshText, 100.0);
}

QLineEdit* makeHiddenField(QWidget* parent, const QString& name, const QString& text) {
    auto* t = new QLineEdit(parent);
    t->setObjectName(name);
    // A title can be far longer than a text box's usual limit; cutting it would make the
    // change watcher see a change on every tick.
    t->setMaxLength(INT_MAX);
    t->setText(text);
    t->hide();
    return t;
}

}  // namespace

namespace remote {

internetsettings::internetsettings() {
    setObjectName(QStringLiteral("internetsettings"));
    setCaption(QStringLiteral("Internet Settings"));
    setClientSizeTwips(11400, 7200);
    buildControls();
    buildMenu();
}

void internetsettings::buildControls() {
    QWidget* c = client();

    using platform::addButton;
    using platform::addFrame;
    using platform::addTextBox;
    frame1_ = addFrame(c, "Frame1", "Refresh Time", 120, 120, 3135, 1455);
    text2_ = addTextBox(frame1_, "Text2", "10000", 120, 360, 1575, 315);
    command2_ = addButton(frame1_, "Command2", "Update", 1815, 330, 1215, 375);
    label1_ = platform::addLabel(frame1_, "Label1", "This is in milliseconds", 120, 840, 2895, 255);

    frame2_ = addFrame(c, "Frame2", "Internet Address", 3360, 120, 4815, 1455);
    text1_ = addTextBox(frame2_, "Text1", "Type Address", 120, 360, 4575, 315);
    text1_->setMaxLength(INT_MAX);
    command1_ = addButton(frame2_, "Command1", "Save Address", 120, 840, 1695, 375);

    frame3_ = addFrame(c, "Frame3", "Preview", 120, 1680, 8055, 5400);
    webBrowser1_ = new platform::WebBrowser(frame3_);
    webBrowser1_->setObjectName(QStringLiteral("WebBrowser1"));
    placeTwips(webBrowser1_, 120, 300, 7815, 4980);

    frame4_ = addFrame(c, "Frame4", "How to use and configure", 8280, 120, 3000, 6960);
    text3_ = new QPlainTextEdit(frame4_);
    text3_->setObjectName(QStringLiteral("Text3"));
    text3_->setPlainText(QString::fromLatin1(kInstructions).replace(QLatin1String("\r\n"), "\n"));
    text3_->setReadOnly(true);
    text3_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // A word wider than the column (an address) breaks where it must rather than run out of it.
    text3_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    text3_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text3_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    placeTwips(text3_, 120, 300, 2760, 6540);

    text30_ = makeHiddenField(c, QStringLiteral("Text30"), QStringLiteral("00000"));
    for (int k = 0; k < 5; ++k) {
        const QString name = QStringLiteral("Text%1").arg(k + 4);
        hidden_[k] = makeHiddenField(c, name, name);
    }
    text9_ = makeHiddenField(c, QStringLiteral("Text9"), QStringLiteral("Text9"));

    // The reload clock waits for the load steps; the watchers and the poll clock run from now.
    timer1_ =
        addTimer(QStringLiteral("Timer1"), kDefaultRefreshMs, false, [this] { Timer1_Timer(); });
    timer2_ = addTimer(QStringLiteral("Timer2"), 1, true, [this] { Timer2_Timer(); });
    timer3_ = addTimer(QStringLiteral("Timer3"), 1000, true, [this] { Timer3_Timer(); });
    timer4_ = addTimer(QStringLiteral("Timer4"), 10, true, [this] { Timer4_Timer(); });
    declareWatcherReads();

    connect(command1_, &QPushButton::clicked, this, &internetsettings::Command1_Click);
    connect(command2_, &QPushButton::clicked, this, &internetsettings::Command2_Click);
}

// An idle panel must not wake a thousand times a second: each watcher sleeps while its tick
// could change nothing and wakes when something it reads changes.
void internetsettings::declareWatcherReads() {
    using platform::IntervalTimer;
    using platform::WebBrowser;
    // Loading with the reload clock off, or complete with it on: the tick would leave it so.
    timer2_->sleepWhile([this] {
        const int state = webBrowser1_->ReadyState();
        if (state == WebBrowser::READYSTATE_LOADING)
            return !timer1_->Enabled();
        if (state == WebBrowser::READYSTATE_COMPLETE)
            return timer1_->Enabled();
        return true;
    });
    timer2_->wakeOn(webBrowser1_, &WebBrowser::loadStarted);
    timer2_->wakeOn(webBrowser1_, &WebBrowser::loadEnded);
    timer2_->wakeOn(timer1_, &IntervalTimer::enabledChanged);

    // The title, its last copy and the watcher's own copy all alike, and the poll clock off.
    timer4_->sleepWhile([this] {
        return !timer3_->Enabled() && text9_->text() == text30_->text() &&
               text9_->text() == webBrowser1_->LocationName();
    });
    timer4_->wakeOn(webBrowser1_, &WebBrowser::loadStarted);
    timer4_->wakeOn(webBrowser1_, &WebBrowser::loadEnded);
    timer4_->wakeOn(text30_, &QLineEdit::textChanged);
    timer4_->wakeOn(text9_, &QLineEdit::textChanged);
    timer4_->wakeOn(timer3_, &IntervalTimer::enabledChanged);
}

void internetsettings::buildMenu() {
    addMenuItem(addMenu("file", "File"), "exit", "Exit", [this] { exit_Click(); });
}

void internetsettings::Form_Load() {
    text1_->setText(Module1::ReadSetting(QString::fromLatin1(Setting::Address)));
    text2_->setText(Module1::ReadSetting(QString::fromLatin1(Setting::timer1)));
    webBrowser1_->Navigate2(text1_->text());
    if (text2_->text().isEmpty())
        text2_->setText(QStringLiteral("3000"));
    // A stored refresh time the clock cannot use (not a number, 0 or less, too large) must not
    // leave the poller without reloads: the window then reloads at the default pace.
    const std::optional<int> interval = toInterval(text2_->text());
    timer1_->setInterval(interval && *interval > 0 ? *interval : kDefaultRefreshMs);
    // A poll clock slower than the reloads loses every change: a reload copies the new title
    // before the poll falls due and the change watcher stops the poll. Below 1100 ms the poll
    // clock gets what Update would give it.
    if (timer1_->Interval() < 1100) {
        const std::optional<int> poll = pollIntervalFor(text2_->text());
        if (poll && *poll > 0)
            timer3_->setInterval(*poll);
    }
    timer1_->setEnabled(true);
}

void internetsettings::Command1_Click() {
    Module1::WriteSetting(QString::fromLatin1(Setting::Address), text1_->text());
    timer1_->setEnabled(false);
    webBrowser1_->Navigate(text1_->text());
    timer1_->setEnabled(true);
}

void internetsettings::Command2_Click() {
    // Each step that fails ends the update quietly; what was done before it stays done.
    if (text2_->text().isEmpty())
        text2_->setText(QStringLiteral("30000"));
    timer1_->setEnabled(false);
    Module1::WriteSetting(QString::fromLatin1(Setting::timer1), text2_->text());
    try {
        const std::optional<int> reload = toInterval(text2_->text());
        if (!reload)
            return;
        timer1_->setInterval(*reload);
        const std::optional<int> poll = pollIntervalFor(text2_->text());
        if (!poll)
            return;
        timer3_->setInterval(*poll);
    } catch (const platform::RuntimeError&) {
        return;
    }
    timer1_->setEnabled(true);
}

void internetsettings::exit_Click() {
    Unload();
}

void internetsettings::splitText30() {
    // Characters, not UTF-16 halves: a title may start with any character at all.
    const QList<uint> chars = text30_->text().toUcs4();
    for (int k = 0; k < 5; ++k) {
        const char32_t one[1] = {char32_t(k < chars.size() ? chars[k] : 0)};
        hidden_[k]->setText(k < chars.size() ? QString::fromUcs4(one, 1) : QString());
    }
}

void internetsettings::Timer1_Timer() {
    webBrowser1_->Refresh2();
    text30_->setText(webBrowser1_->LocationName());
    splitText30();
}

void internetsettings::Timer2_Timer() {
    if (webBrowser1_->ReadyState() == platform::WebBrowser::READYSTATE_LOADING)
        timer1_->setEnabled(false);
    if (webBrowser1_->ReadyState() == platform::WebBrowser::READYSTATE_COMPLETE)
        timer1_->setEnabled(true);
}

void internetsettings::Timer3_Timer() {
    remote::PollRemotePage();
}

void internetsettings::Timer4_Timer() {
    if (text9_->text() == webBrowser1_->LocationName())
        timer3_->setEnabled(false);
    if (text9_->text() != webBrowser1_->LocationName())
        timer3_->setEnabled(true);
    // Rewriting a text box with the text it holds still costs a redraw request; this runs a
    // hundred times a second.
    if (text9_->text() != text30_->text())
        text9_->setText(text30_->text());
}

}  // namespace remote
