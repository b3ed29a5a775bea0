#pragma once

#include <QStringList>
#include <QTextStream>

// The commands of domivox-send. Each asks the panel that runs in this user's session, over the
// session bus, and reports what it answered.
namespace SendTool {

enum Status {
    Sent = 0,     // the letter went out (or the status was read)
    NotSent = 1,  // the panel answered, but could not send: its reason is on stderr
    Usage = 2,    // the command line was not understood
    NoPanel = 3,  // no panel runs in this session (or no session bus at all)
};

int run(const QStringList& args, QTextStream& out, QTextStream& err);

}  // namespace SendTool
