#include "schedule/frmTimer.h"

#include <cmath>
#include <exception>

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPointer>
#include <QPushButton>

#include "platform/clock/IntervalTimer.h"
#include "platform/text/Numbers.h"
#include "platform/ui/ChangeLabel.h"
#include "platform/ui/Colors.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Twips.h"
#include "schedule/ApplyDeviceState.h"

using platform::placeTwips;

namespace {

const char* const kApplyFailure = " You must Configure your Setting correctly";

// The display texts every decision is taken on. The fields have a fixed width, so text order is
// time order.
const QString kZero = QStringLiteral("00:00:00");
const QString kLastSecond = QStringLiteral("00:00:01");
const QString kWarnBelow = QStringLiteral("00:00:16");

constexpr int kTickMs = 970;  // a displayed second is slightly short, as it always was
constexpr int kWatchMs = 1;
constexpr qint64 kSecondsPerDay = 24 * 60 * 60;

int buttonTextColor() {
    return platform::fromQColor(QGuiApplication::palette().color(QPalette::ButtonText));
}

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

}  // namespace

namespace schedule {

frmTimer::frmTimer() {
    setObjectName(QStringLiteral("frmTimer"));
    setCaption(QStringLiteral("Timer Function"));
    setClientSizeTwips(3645, 3465);
    buildControls();
    buildMenu();
}

void frmTimer::buildControls() {
    using platform::addButton;
    using platform::addLabel;
    using platform::addTextBox;
    QWidget* c = client();

    addLabel(c, "Label7", "Tip: You can enter more than 60 minutes", 120, 0, 3015, 255);

    const QFont entryFont = platform::designFont(QStringLiteral("Arial"), 14.25);
    const QFont unitFont = platform::designFont(QStringLiteral("Arial"), 8.25);
    text11_ = addTextBox(c, "Text11", QString(), 120, 360, 735, 360);
    text11_->setFont(entryFont);
    addLabel(c, "Label19", "Min", 240, 720, 240, 210)->setFont(unitFont);
    text12_ = addTextBox(c, "Text12", QString(), 840, 360, 735, 360);
    text12_->setFont(entryFont);
    addLabel(c, "Label18", "Sec", 960, 720, 285, 210)->setFont(unitFont);

    cmdStart_ = addButton(c, "cmdStart", "&Start", 1680, 360, 735, 375);
    cmdpause_ = addButton(c, "cmdpause", "&Pause", 2400, 360, 735, 375);
    cmdStop_ = addButton(c, "cmdStop", "S&top", 2040, 720, 735, 375);
    command1_ = addButton(c, "Command1", "&Resume", 1680, 600, 735, 375);
    command1_->hide();

    lbltime_ = new platform::ChangeLabel(kZero, c);
    lbltime_->setObjectName(QStringLiteral("lbltime"));
    lbltime_->setTextFormat(Qt::PlainText);
    lbltime_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbltime_->setFont(platform::designFont(QStringLiteral("Arial"), 14.25, true));
    platform::setForeColor(lbltime_, buttonTextColor());
    placeTwips(lbltime_, 120, 960, 1200, 330);

    lblwarning_ = addLabel(c, "lblwarning", "Warning Device State will change in under 15 Seconds",
                           0, 1320, 3375, 675);
    lblwarning_->setFont(platform::designFont(QStringLiteral("Arial"), 12, true));
    platform::setForeColor(lblwarning_, platform::kColorRed);

    frame1_ = platform::addFrame(c, "Frame1", "Please enter device state:", 120, 2040, 3495, 1335);
    addLabel(frame1_, "Label1", "Remember 1 Means ON and 0 Means OFF", 120, 240, 3255, 255);
    static const int kNumberLefts[5] = {360, 960, 1560, 2160, 2760};
    static const int kEntryLefts[5] = {240, 840, 1440, 2040, 2640};
    for (int k = 1; k <= 5; ++k) {
        addLabel(frame1_, QStringLiteral("Label%1").arg(k + 1), QString::number(k),
                 kNumberLefts[k - 1], 480, 255, 255);
        pattern_[k - 1] = addTextBox(frame1_, QStringLiteral("Text%1").arg(k), QStringLiteral("0"),
                                     kEntryLefts[k - 1], 720, 495, 375);
    }

    // The tick starts switched off (it used to be on with no interval): a duration typed in
    // must not start counting down before Start.
    timer1_ = addTimer(QStringLiteral("Timer1"), 0, false, [this] { Timer1_Timer(); });
    timer2_ = addTimer(QStringLiteral("Timer2"), kWatchMs, false, [this] { Timer2_Timer(); });
    // The watcher acts on one display text only; on any other it sleeps until the display changes.
    timer2_->sleepWhile([this] { return lbltime_->text() != kLastSecond; });
    timer2_->wakeOn(lbltime_, &platform::ChangeLabel::Change);

    connect(text11_, &QLineEdit::textChanged, this, &frmTimer::Text11_Change);
    connect(text12_, &QLineEdit::textChanged, this, &frmTimer::Text12_Change);
    connect(lbltime_, &platform::ChangeLabel::Change, this, &frmTimer::lbltime_Change);
    connect(cmdStart_, &QPushButton::clicked, this, &frmTimer::cmdStart_Click);
    connect(cmdpause_, &QPushButton::clicked, this, &frmTimer::cmdpause_Click);
    connect(command1_, &QPushButton::clicked, this, &frmTimer::Command1_Click);
    connect(cmdStop_, &QPushButton::clicked, this, &frmTimer::cmdStop_Click);
}

void frmTimer::buildMenu() {
    QMenu* file = addMenu("mnufile", "&File");
    const struct {
        const char* name;
        const char* caption;
        void (frmTimer::*handler)();
    } items[] = {{"mnustart", "&Start", &frmTimer::mnustart_Click},
                 {"mnupause", "&Pause", &frmTimer::mnupause_Click},
                 {"mnustop", "&Stop", &frmTimer::mnustop_Click},
                 {"mnuclose", "&Close", &frmTimer::mnuclose_Click}};
    for (const auto& item : items)
        addMenuItem(file, item.name, item.caption, [this, h = item.handler] { (this->*h)(); });
}

void frmTimer::Form_Load() {
    lblwarning_->hide();
    timer1_->setInterval(kTickMs);
    hrs = 0;
    mins = 0;
    secs = 0;
    timeleft = 0;
    Show();
}

qint16 frmTimer::ReadEntry(const QString& text) {
    QString number;
    int i = 0;
    const int n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        number += text[i++];
    bool digits = false;
    bool point = false;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (isBlank(c))
            continue;
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            number += c;
            digits = true;
        } else if (c == QLatin1Char('.') && !point) {
            number += c;
            point = true;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return 0;
    const double whole = platform::roundHalfToEven(value);
    if (whole < 0 || whole > 32767)
        return 0;
    return static_cast<qint16>(whole);
}

QString frmTimer::DisplayText(qint64 seconds) {
    const qint64 ofDay = ((seconds % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
    return QStringLiteral("%1:%2:%3")
        .arg(ofDay / 3600, 2, 10, QLatin1Char('0'))
        .arg(ofDay % 3600 / 60, 2, 10, QLatin1Char('0'))
        .arg(ofDay % 60, 2, 10, QLatin1Char('0'));
}

void frmTimer::RefreshCountdown() {
    mins = ReadEntry(text11_->text());
    secs = ReadEntry(text12_->text());
    timeleft = qint64(hrs) * 3600 + qint64(mins) * 60 + secs;
    lbltime_->setText(DisplayText(timeleft));
}

void frmTimer::Text11_Change() {
    RefreshCountdown();
}
void frmTimer::Text12_Change() {
    RefreshCountdown();
}

void frmTimer::lbltime_Change() {
    const QString shown = lbltime_->text();
    lblwarning_->setVisible(shown < kWarnBelow);
    if (shown == kZero) {
        // The run is over (or there never was one): nothing may count or apply until the next
        // Start. A watcher still applying its pattern finishes that pass.
        timer1_->setEnabled(false);
        timer2_->setEnabled(false);
        lblwarning_->hide();
        // Each of these may rebuild the display and bring us back here; setting an entry that
        // is already empty changes nothing, which ends it.
        text11_->setText(QString());
        text12_->setText(QString());
        lockEntries(false);
        cmdStart_->setEnabled(true);
    }
    platform::setForeColor(lbltime_,
                           lblwarning_->isHidden() ? buttonTextColor() : platform::kColorRed);
}

void frmTimer::lockEntries(bool locked) {
    text11_->setReadOnly(locked);
    text12_->setReadOnly(locked);
}

void frmTimer::cmdStart_Click() {
    ++runs_;
    timer2_->setEnabled(true);
    lockEntries(true);
    lblwarning_->hide();
    timer1_->setEnabled(true);
    setCaption(QStringLiteral("Timer"));
    cmdStart_->setEnabled(false);
}

void frmTimer::cmdpause_Click() {
    if (!timer1_->Enabled())
        return;
    timer1_->setEnabled(false);
    setCaption(QStringLiteral("Timer - Paused..."));
    command1_->show();
    cmdpause_->hide();
    command1_->setFocus();
    cmdStart_->setEnabled(false);
}

void frmTimer::Command1_Click() {
    lockEntries(true);
    lblwarning_->hide();
    timer1_->setEnabled(true);
    setCaption(QStringLiteral("Timer"));
    command1_->hide();
    cmdpause_->show();
    cmdpause_->setFocus();
}

void frmTimer::cmdStop_Click() {
    // Left running, the watcher would apply the pattern later without Start as soon as the
    // display passed "00:00:01", and the tick would count down whatever is typed next.
    timer1_->setEnabled(false);
    timer2_->setEnabled(false);
    cmdStart_->setEnabled(true);
    text11_->setText(QString());
    text12_->setText(QString());
    lockEntries(false);
    cmdpause_->show();
    command1_->hide();
}

bool frmTimer::available(const QPushButton* button) {
    return button->isEnabled() && !button->isHidden();
}

// A menu item acts only when its button could be pressed: File > Start while a run is under
// way would otherwise switch the watcher on again and apply the pattern a second time.
void frmTimer::mnustart_Click() {
    if (available(cmdStart_))
        cmdStart_Click();
}

void frmTimer::mnupause_Click() {
    if (available(cmdpause_))
        cmdpause_Click();
}

void frmTimer::mnustop_Click() {
    if (available(cmdStop_))
        cmdStop_Click();
}

void frmTimer::mnuclose_Click() {
    Unload();
}

void frmTimer::Timer1_Timer() {
    timer1_->setEnabled(false);
    if (DisplayText(timeleft) == kZero)
        return;
    timeleft -= 1;
    lbltime_->hide();
    lbltime_->setText(DisplayText(timeleft));
    lbltime_->show();
    // At "00:00:00" the run has ended; the tick waits for the next Start.
    if (lbltime_->text() != kZero)
        timer1_->setEnabled(true);
}

void frmTimer::Timer2_Timer() {
    if (lbltime_->text() != kLastSecond)
        return;
    const quint64 run = runs_;
    // The pauses between devices handle window events: this window may be closed, and even
    // destroyed, before the pass returns.
    QPointer<frmTimer> self(this);
    try {
        schedule::ApplyDeviceState();
    } catch (const std::exception&) {
        platform::MsgBox(QString::fromLatin1(kApplyFailure), platform::vbInformation,
                         QStringLiteral("Error"));
        if (!self || self->isUnloaded())
            return;
        timer2_->setEnabled(false);
        timer1_->setEnabled(false);
        Unload();
        return;
    }
    if (!self || self->isUnloaded())
        return;
    // A Start pressed while the pass was running began a new run with its own watcher.
    if (runs_ == run)
        timer2_->setEnabled(false);
}

}  // namespace schedule
