#pragma once

class QLineEdit;

// The main window's "Internet" switch: turning remote control on and off.
namespace remote::InternetSwitch {

// Records "interneton", checks that an address has been saved (into the main window's text20,
// given here) and, once the user has read the message, opens the internet settings window, which
// starts the poller. Opening a window that is already loaded only shows it again.
void TurnOn(QLineEdit& text20);

// Records "internetoff", unloads the internet settings window (which stops the poller) and tells
// the user that devices are now controlled locally only.
void TurnOff();

}  // namespace remote::InternetSwitch
