#include "platform/clock/IntervalTimer.h"

#include <cstdio>
#include <set>

#include <QPointer>

#include "platform/Errors.h"

namespace platform {
namespace {

bool& literal() {
    static bool on = qEnvironmentVariableIntValue("DOMIVOX_LITERAL_CLOCKS") != 0;
    return on;
}

// Every clock alive, so that a switch to literal ticking can wake the sleeping ones.
std::set<IntervalTimer*>& clocks() {
    static std::set<IntervalTimer*> all;
    return all;
}

}  // namespace

IntervalTimer::IntervalTimer(QObject* owner, const QString& name, int intervalMs, bool enabled,
                             Handler handler)
    : QObject(owner), handler_(std::move(handler)), interval_(intervalMs), enabled_(enabled) {
    setObjectName(name);
    clocks().insert(this);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &IntervalTimer::onTimeout);
    sync(true);
}

IntervalTimer::~IntervalTimer() {
    clocks().erase(this);
}

bool IntervalTimer::literalTicking() {
    return literal();
}

void IntervalTimer::setLiteralTicking(bool on) {
    literal() = on;
    if (!on)
        return;
    // Copied: a clock's wake never creates or destroys a clock, but stay safe if it ever does.
    const std::set<IntervalTimer*> all = clocks();
    for (IntervalTimer* t : all)
        t->wake();
}

void IntervalTimer::setInterval(int ms) {
    if (ms < 0)
        throw RuntimeError(QStringLiteral("Invalid property value: interval %1 ms").arg(ms));
    interval_ = ms;
    sync(true);
}

void IntervalTimer::setEnabled(bool on) {
    if (on == enabled_)
        return;  // in particular: a running clock keeps its count
    enabled_ = on;
    sync(true);
    Q_EMIT enabledChanged(on);
}

void IntervalTimer::kill() {
    dead_ = true;
    asleep_ = false;
    timer_.stop();
}

void IntervalTimer::sync(bool restart) {
    asleep_ = false;
    resuming_ = false;
    if (!isCounting()) {
        timer_.stop();
        return;
    }
    if (restart || !timer_.isActive()) {
        timer_.start(interval_);
        phase_.start();
    }
}

void IntervalTimer::wake() {
    if (!asleep_)
        return;
    asleep_ = false;
    if (!isCounting())
        return;
    // Back into the phase the clock had when it last started counting afresh, rounded down to
    // the millisecond: never later than a tick that counted all along, so a 1 ms watcher woken
    // by a load that has just begun ticks at once and sees it loading, as it would have.
    const qint64 period = qint64(interval_) * 1000000;
    const qint64 into = phase_.isValid() ? phase_.nsecsElapsed() % period : 0;
    const int due = static_cast<int>((period - into) / 1000000);
    resuming_ = due != interval_;
    timer_.start(due);
}

void IntervalTimer::onTimeout() {
    if (resuming_) {
        resuming_ = false;
        timer_.start(interval_);  // from this tick on, the full interval again
    }
    fire();
}

void IntervalTimer::fire() {
    if (inHandler_ || dead_ || !handler_)
        return;
    inHandler_ = true;
    QPointer<IntervalTimer> self(this);
    try {
        handler_();
    } catch (const std::exception& e) {
        // Nothing above an event handler can take the failure; say so rather than crash.
        std::fprintf(stderr, "Domivox: %s: %s\n", qPrintable(objectName()), e.what());
    }
    if (!self)
        return;
    inHandler_ = false;
    // The handler may have switched the clock off or restarted it; only a clock still counting
    // goes to sleep.
    if (idle_ && !literal() && timer_.isActive() && idle_()) {
        timer_.stop();
        asleep_ = true;
    }
}

}  // namespace platform
