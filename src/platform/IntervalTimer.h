#pragma once

#include <functional>

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
class IntervalTimer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void()>;

    IntervalTimer(QObject* owner, const QString& name, int intervalMs, bool enabled,
                  Handler handler = {});

    void setHandler(Handler handler) { handler_ = std::move(handler); }

    int Interval() const { return interval_; }
    // Throws RuntimeError for a negative interval; the clock is then left unchanged.
    void setInterval(int ms);

    bool Enabled() const { return enabled_; }
    void setEnabled(bool on);

    // Counting towards a firing: switched on, with an interval above 0, owner still loaded.
    bool isCounting() const { return timer_.isActive(); }
    bool isInHandler() const { return inHandler_; }
    bool isDead() const { return dead_; }

    // Called when the owning window unloads.
    void kill();

    // Runs the handler as a firing would (tests and the window that owns the clock use it).
    void fire();

private:
    void sync(bool restart);

    QTimer timer_;
    Handler handler_;
    int interval_ = 0;
    bool enabled_ = false;
    bool inHandler_ = false;
    bool dead_ = false;
};

}  // namespace platform
