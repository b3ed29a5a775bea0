#pragma once

#include <ostream>
#include <string>
#include <vector>

// The commands of domivox-send. Each asks the panel that runs in this user's session, over the
// session bus, and reports what it answered. Plain libdbus and no Qt: the tool runs from cron
// and scripts, where starting it should cost no more than dbus-send does.
namespace SendTool {

enum Status {
    Sent = 0,     // the letter went out (or the status was read)
    NotSent = 1,  // the panel answered, but could not send: its reason is on stderr
    Usage = 2,    // the command line was not understood
    NoPanel = 3,  // no panel runs in this session (or no session bus at all)
};

// DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus, else /run/user/<uid>/bus: where a cron
// job or a systemd user timer finds the bus of the same user's desktop.
std::string sessionBusAddress();

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace SendTool
