#include "device/Module2.h"

#include "device/DeviceAccount.h"
#include "device/MainPanel.h"
#include "platform/Errors.h"
#include "platform/clock/Clock.h"
#include "platform/clock/EventWait.h"

using device::DeviceCommand;

namespace Module2 {
namespace {
int depth = 0;
}

void DeviceAction(int device, bool on, device::Sender sender) {
    if (!DeviceCommand::valid(device) || !device::loadMainPanel())
        return;
    const device::SwitchResult r =
        device::DeviceAccount::instance().switchDevice(device, on, sender);
    if (!r.sent())
        throw platform::RuntimeError(r.reason);
}

void Pause(double seconds) {
    if (!(seconds > 0))
        return;
    struct Depth {
        Depth() { ++depth; }
        ~Depth() { --depth; }
    } nested;
    const double start = platform::monotonicSeconds();
    for (;;) {
        const double left = seconds - (platform::monotonicSeconds() - start);
        if (left <= 0)
            break;
        platform::handleEventsFor(left);
    }
}

int pauseDepth() {
    return depth;
}

}  // namespace Module2
