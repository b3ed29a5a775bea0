#pragma once

#include <QDBusConnection>
#include <QString>

namespace platform {

// Where the user's session bus listens: DBUS_SESSION_BUS_ADDRESS when it is set; otherwise the
// socket a systemd user session puts at $XDG_RUNTIME_DIR/bus, and /run/user/<uid>/bus when even
// XDG_RUNTIME_DIR is unset. Cron jobs and systemd user timers start without the variable, so a
// program they run finds the bus of the same user's desktop this way.
QString sessionBusAddress();

// A connection to that bus under the given connection name; not connected when no bus answers
// there (a bare console, a CI machine). Connects quietly: the caller decides what to say.
QDBusConnection connectSessionBus(const QString& name);

}  // namespace platform
