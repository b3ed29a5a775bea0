#include "platform/IntervalTimer.h"

#include <cstdio>

#include <QPointer>

#include "platform/Errors.h"

namespace platform {

IntervalTimer::IntervalTimer(QObject* owner, const QString& name, int intervalMs, bool enabled,
                             Handler handler)
    : QObject(owner), handler_(std::move(handler)), interval_(intervalMs), enabled_(enabled) {
    setObjectName(name);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &IntervalTimer::fire);
    sync(true);
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
}

void IntervalTimer::kill() {
    dead_ = true;
    timer_.stop();
}

void IntervalTimer::sync(bool restart) {
    const bool shouldRun = enabled_ && interval_ > 0 && !dead_;
    if (!shouldRun) {
        timer_.stop();
        return;
    }
    if (restart || !timer_.isActive())
        timer_.start(interval_);
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
    if (self)
        inHandler_ = false;
}

}  // namespace platform
