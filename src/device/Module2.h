#pragma once

#include "device/DeviceAccount.h"
#include "device/DeviceCommand.h"

// Shared routines of the unattended sources (the timer function and the remote poller).
namespace Module2 {

// Switches one device from an unattended source through the DeviceAccount: loads the main window
// hidden if the user closed it, sends the command, shows the status named by the button that
// sends this very command, then pauses a quarter of a second. A failed write throws
// platform::RuntimeError with the port's reason before the status line changes, and the pause is
// skipped. Nothing happens without a main window to load.
void DeviceAction(int device, bool on, device::Sender sender = device::Sender::Countdown);
inline void DeviceAction(device::DeviceCommand c) {
    DeviceAction(c.device, c.on);
}

// Waits at least the given seconds on a monotonic clock while window events keep being
// handled. Zero or less returns at once.
void Pause(double seconds);

// How many Pause calls are running at this moment (a pause inside a pause counts twice).
int pauseDepth();

}  // namespace Module2
