#pragma once

#include <array>

#include <QString>
#include <QtGlobal>

#include "platform/ui/Window.h"
#include "platform/ui/WindowRegistry.h"  // the window is opened and found through the registry

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class ChangeLabel;
class IntervalTimer;
}  // namespace platform

namespace schedule {

// The timer function: a countdown in minutes and seconds with a five-device pattern that is
// applied when the countdown reaches its last second.
//
// Every decision of the countdown is taken on the display text (hh:nn:ss, time of day only),
// never on the remaining time itself: whole days do not show and count as zero.
//
// Devices must never switch unasked, so the clocks only run between a Start and the end of
// that run: the tick and the expiry watcher are off before the first Start, after Stop and
// after the display reached "00:00:00"; a menu item whose button is disabled or hidden does
// nothing.
class frmTimer : public platform::Window {
    Q_OBJECT
public:
    frmTimer();

    // The pattern entries, device 1 first (1..5).
    QLineEdit* Text(int k) const { return pattern_.at(k - 1); }
    QLineEdit* Text11() const { return text11_; }  // minutes
    QLineEdit* Text12() const { return text12_; }  // seconds
    platform::ChangeLabel* lbltime() const { return lbltime_; }
    QLabel* lblwarning() const { return lblwarning_; }
    QPushButton* cmdStart() const { return cmdStart_; }
    QPushButton* cmdpause() const { return cmdpause_; }
    QPushButton* cmdStop() const { return cmdStop_; }
    QPushButton* Command1() const { return command1_; }  // Resume
    QGroupBox* Frame1() const { return frame1_; }
    platform::IntervalTimer* Timer1() const { return timer1_; }  // countdown tick
    platform::IntervalTimer* Timer2() const { return timer2_; }  // expiry watcher

    // Rebuilds the remaining time from the two entries and shows it.
    void RefreshCountdown();

    void Text11_Change();
    void Text12_Change();
    void lbltime_Change();

    void cmdStart_Click();
    void cmdpause_Click();
    void Command1_Click();
    void cmdStop_Click();

    void mnustart_Click();
    void mnupause_Click();
    void mnustop_Click();
    void mnuclose_Click();

    void Timer1_Timer();
    void Timer2_Timer();

    // What an entry reads as: the number at its start (blanks, tabs and line feeds skipped, a
    // fraction allowed), rounded half to even. A negative number, or one that a 16-bit
    // signed integer cannot hold, reads as 0: neither is a duration anyone can count down.
    static qint16 ReadEntry(const QString& text);
    // The display text of a remaining time in seconds: hh:nn:ss of the time of day.
    static QString DisplayText(qint64 seconds);

protected:
    void Form_Load() override;

private:
    void buildControls();
    void buildMenu();
    void lockEntries(bool locked);
    static bool available(const QPushButton* button);

    std::array<QLineEdit*, 5> pattern_{};
    QLineEdit* text11_ = nullptr;
    QLineEdit* text12_ = nullptr;
    platform::ChangeLabel* lbltime_ = nullptr;
    QLabel* lblwarning_ = nullptr;
    QPushButton* cmdStart_ = nullptr;
    QPushButton* cmdpause_ = nullptr;
    QPushButton* cmdStop_ = nullptr;
    QPushButton* command1_ = nullptr;
    QGroupBox* frame1_ = nullptr;
    platform::IntervalTimer* timer1_ = nullptr;
    platform::IntervalTimer* timer2_ = nullptr;

    qint16 hrs = 0;
    qint16 mins = 0;
    qint16 secs = 0;
    // Remaining time in whole seconds; whole days of it never show on the display.
    qint64 timeleft = 0;
    // Counts Starts, so a watcher returning from a long pass does not switch off the watcher
    // of a run started while it was applying.
    quint64 runs_ = 0;
};

}  // namespace schedule
