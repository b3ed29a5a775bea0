#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace platform {

// A window-owned interval clock with the behaviour the windows' watchers rely on:
//  - switching on a clock that is already running leaves its count alone (watchers switch
//    clocks on every few milliseconds; restarting the count would mean they never fire);
//  - an interval of 0 never fires, whatever the switch says;
//  - setting the interval of a running clock starts a fresh interval;
//  - a clock whose handler is still running (inside a pause or a modal box) skips its firings
//    until the handler has returned;
//  - once its window is unloaded the clock is dead and never fires again.
//
// Watchers that tick every millisecond or so mostly find nothing to do, and each tick wakes the
// whole program. A watcher may therefore declare when its tick can change nothing
// (sleepWhile) and what it reads (wakeOn): after a tick that leaves it in such a state it stops
// counting, and the first change of something it reads sets it counting again in the phase it
// had, so its next tick comes when it would have come had it ticked all along. To the window the
// clock is still switched on and counting; only the empty ticks are gone.
class IntervalTimer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void()>;
    using Predicate = std::function<bool()>;

    IntervalTimer(QObject* owner, const QString& name, int intervalMs, bool enabled,
                  Handler handler = {});
    ~IntervalTimer() override;

    void setHandler(Handler handler) { handler_ = std::move(handler); }

    int Interval() const { return interval_; }
    // Throws RuntimeError for a negative interval; the clock is then left unchanged.
    void setInterval(int ms);

    bool Enabled() const { return enabled_; }
    void setEnabled(bool on);

    // Switched on, with an interval above 0, owner still loaded: firing whenever its tick can
    // change something (a sleeping watcher counts).
    bool isCounting() const { return enabled_ && interval_ > 0 && !dead_; }
    bool isInHandler() const { return inHandler_; }
    bool isDead() const { return dead_; }

    // `idle` says, after a tick, that the next tick could change nothing as things stand. It
    // must read only what the clock is woken by (wakeOn), or a change would go unnoticed.
    void sleepWhile(Predicate idle) { idle_ = std::move(idle); }
    // Wakes the clock whenever `sender` raises `signal`.
    template <typename Sender, typename Signal>
    void wakeOn(const Sender* sender, Signal signal) {
        connect(sender, signal, this, &IntervalTimer::wake);
    }
    // Something the clock reads has changed: a sleeping clock counts again.
    void wake();
    bool isAsleep() const { return asleep_; }

    // Literal ticking: no clock sleeps, every tick runs as it falls due. For comparing the two
    // ways and for measuring what sleeping saves; DOMIVOX_LITERAL_CLOCKS=1 sets it at start.
    static bool literalTicking();
    static void setLiteralTicking(bool literal);

    // Called when the owning window unloads.
    void kill();

    // Runs the handler as a firing would (tests and the window that owns the clock use it).
    void fire();

Q_SIGNALS:
    // The switch was turned (watchers of this clock read it).
    void enabledChanged(bool on);

private:
    void sync(bool restart);
    void onTimeout();

    QTimer timer_;
    QElapsedTimer phase_;  // since counting last started afresh
    Handler handler_;
    Predicate idle_;
    int interval_ = 0;
    bool enabled_ = false;
    bool inHandler_ = false;
    bool dead_ = false;
    bool asleep_ = false;
    bool resuming_ = false;  // the QTimer runs a shortened first interval after a wake
};

}  // namespace platform
