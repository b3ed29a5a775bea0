#include "device/Module2.h"

#include <QPushButton>

#include "device/BoardLink.h"
#include "device/MainPanel.h"
#include "platform/Errors.h"
#include "platform/clock/Clock.h"
#include "platform/clock/EventWait.h"

using device::BoardLink;
using device::DeviceCommand;

namespace Module2 {
namespace {
int depth = 0;
}

void DeviceAction(int device, bool on) {
    if (!DeviceCommand::valid(device))
        return;
    const DeviceCommand command{device, on};
    device::MainPanel* form = device::loadMainPanel();
    if (!form)
        return;
    BoardLink& link = form->boardLink();
    if (!link.send(command))
        throw platform::RuntimeError(link.lastError());
    form->showStatus(device, form->Command(command.button())->text(), on);
    Pause(0.25);
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
