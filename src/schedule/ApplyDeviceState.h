#pragma once

namespace schedule {

// Applies the pattern held in the timer function window's entries Text1..Text5, device 1 first.
// For each device the entry is tested twice, each time read afresh: exactly "1" switches the
// device ON, then exactly "0" switches it OFF; any other text leaves it alone. Each switch costs
// the device action's quarter-second pause, during which window events run, so an entry edited
// meanwhile counts for the tests still to come.
//
// The pass belongs to the timer window that was open when it began. Once that window is closed
// the remaining devices are left alone: its entries have gone with it, and a freshly opened
// window's initial "0"s are not what the user asked for. Without a timer window nothing is done.
//
// A failed device action throws platform::RuntimeError; the devices before it stay switched and
// the devices after it are not handled.
void ApplyDeviceState();

}  // namespace schedule
