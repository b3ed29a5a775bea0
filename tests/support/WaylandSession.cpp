#include "support/WaylandSession.h"

#include <csignal>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

void collectViews(const QJsonObject& node, qint64 pid, QList<QJsonObject>& out) {
    if (node.contains(QLatin1String("pid")) && node.value(QLatin1String("pid")).toInteger() == pid)
        out << node;
    for (const char* key : {"nodes", "floating_nodes"})
        for (const QJsonValue& child : node.value(QLatin1String(key)).toArray())
            collectViews(child.toObject(), pid, out);
}

}  // namespace

WaylandSession::WaylandSession() {
    if (!runtime_.isValid()) {
        why_ = QStringLiteral("no folder for the session");
        return;
    }
    const QString dir = runtime_.path();
    QFile config(dir + "/config");
    if (!config.open(QIODevice::WriteOnly)) {
        why_ = QStringLiteral("cannot write the compositor's configuration");
        return;
    }
    config.write(
        "output HEADLESS-1 resolution 1280x1024 scale 1\n"
        "for_window [shell=\".*\"] floating enable\n");
    config.close();

    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    if (uid == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody) {
            why_ =
                QStringLiteral("running as root, and there is no user \"nobody\" to run sway as");
            return;
        }
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        if (::chown(QFile::encodeName(dir).constData(), uid, gid) != 0) {
            why_ = QStringLiteral("cannot hand the session folder to nobody");
            return;
        }
    }
    ::chmod(QFile::encodeName(dir).constData(), 0700);

    const QByteArray runtime = QFile::encodeName(dir);
    const QByteArray configPath = QFile::encodeName(config.fileName());
    const QByteArray log = runtime + "/sway.log";
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(126);
        if (::getuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(125);
        const int null = ::open("/dev/null", O_RDWR);
        const int out = ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(null, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::clearenv();
        ::setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
        ::setenv("HOME", runtime.constData(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
        ::setenv("WLR_BACKENDS", "headless", 1);
        ::setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
        ::setenv("WLR_RENDERER", "pixman", 1);
        ::execlp("sway", "sway", "-c", configPath.constData(), nullptr);
        ::_exit(127);
    }
    if (pid < 0) {
        why_ = QStringLiteral("cannot start a process");
        return;
    }

    // Up once it answers on its IPC socket and has its Wayland socket.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < allowMs(15000)) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            QFile l(QString::fromLocal8Bit(log));
            l.open(QIODevice::ReadOnly);
            why_ = code == 127 ? QStringLiteral("sway is not installed")
                               : QStringLiteral("sway exited with status %1: %2")
                                     .arg(code)
                                     .arg(QString::fromLocal8Bit(l.readAll().right(400)));
            return;
        }
        const QStringList ipc =
            QDir(dir).entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
        const QStringList wayland =
            QDir(dir).entryList({QStringLiteral("wayland-*")}, QDir::System);
        if (!ipc.isEmpty() && !wayland.isEmpty()) {
            socket_ = dir + '/' + ipc.first();
            sway_ = pid;
            if (!swaymsg({QStringLiteral("-t"), QStringLiteral("get_outputs")}).isNull()) {
                ::setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
                ::setenv("WAYLAND_DISPLAY", QFile::encodeName(wayland.first()).constData(), 1);
                ::setenv("XDG_SESSION_TYPE", "wayland", 1);
                ::unsetenv("DISPLAY");
                ::unsetenv("QT_QPA_PLATFORM");
                return;
            }
            sway_ = -1;
        }
        QThread::msleep(50);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    why_ = QStringLiteral("sway did not come up in time");
}

WaylandSession::~WaylandSession() {
    if (sway_ <= 0)
        return;
    ::kill(sway_, SIGTERM);
    QElapsedTimer t;
    t.start();
    while (::waitpid(sway_, nullptr, WNOHANG) != sway_) {
        if (t.elapsed() > 3000) {
            ::kill(sway_, SIGKILL);
            ::waitpid(sway_, nullptr, 0);
            break;
        }
        QThread::msleep(10);
    }
}

QString WaylandSession::swaymsg(const QStringList& arguments) const {
    QProcess p;
    p.start(QStringLiteral("swaymsg"), QStringList{QStringLiteral("-s"), socket_} + arguments);
    if (!p.waitForFinished(allowMs(10000)) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

QList<QJsonObject> WaylandSession::windowsOf(qint64 pid) const {
    QList<QJsonObject> views;
    const QString tree = swaymsg({QStringLiteral("-t"), QStringLiteral("get_tree")});
    collectViews(QJsonDocument::fromJson(tree.toUtf8()).object(), pid, views);
    return views;
}

}  // namespace testsupport
