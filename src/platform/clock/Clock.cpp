#include "platform/clock/Clock.h"

#include <QElapsedTimer>

namespace platform {

double monotonicSeconds() {
    static QElapsedTimer origin = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return origin.nsecsElapsed() / 1e9;
}

}  // namespace platform
