#pragma once

#include <sys/types.h>

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

// A private Wayland session: sway on its headless backend, with every window floating as on a
// desktop that lets windows choose their size. Started before the QApplication, which then runs
// on the wayland platform as it would in a user's Wayland session (QT_QPA_PLATFORM unset). sway
// refuses to run as root, so under root it runs as "nobody"; the session's folder is handed to
// that user and root still reaches its sockets.
class WaylandSession {
public:
    WaylandSession();
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    bool started() const { return sway_ > 0; }
    // What kept the compositor from starting.
    QString why() const { return why_; }

    // Runs swaymsg with the arguments against this session; its standard output, or null.
    QString swaymsg(const QStringList& arguments) const;
    // Every window (view) of the given process in the compositor's tree, as get_tree has them.
    QList<QJsonObject> windowsOf(qint64 pid) const;

private:
    QTemporaryDir runtime_;
    QString socket_;
    pid_t sway_ = -1;
    QString why_;
};

}  // namespace testsupport
