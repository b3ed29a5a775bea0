#include "platform/clock/EventWait.h"

#include <cmath>

#include <QCoreApplication>
#include <QTimer>

namespace platform {
namespace {
int depth = 0;
}

void handleEventsFor(double maxSeconds) {
    ++depth;
    // The timer only exists to wake the dispatcher when nothing else does.
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    const double ms = std::ceil(std::max(0.0, maxSeconds) * 1000.0);
    wake.start(ms > 86400000.0 ? 86400000 : static_cast<int>(ms));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    --depth;
}

int eventWaitDepth() {
    return depth;
}

}  // namespace platform
