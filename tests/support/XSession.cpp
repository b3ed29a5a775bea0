#include "support/XSession.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

// Starts a program with stdin and stdout on /dev/null; it is sent SIGTERM if this process dies
// first. keepFd stays open in the child (Xvfb reports its display on it).
pid_t spawn(const QList<QByteArray>& args, int keepFd = -1) {
    std::vector<char*> argv;
    for (const QByteArray& a : args)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(126);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    if (keepFd < 0)
        dup2(null, 2);
    execvp(argv[0], argv.data());
    _exit(127);
}

// The exit status of a child that has ended, or -1 while it runs.
int endedWith(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void stop(pid_t& pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    QElapsedTimer t;
    t.start();
    while (endedWith(pid) < 0) {
        if (t.elapsed() > 3000) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            break;
        }
        QThread::msleep(10);
    }
    pid = -1;
}

// The window manager has announced itself on the root window (EWMH), so windows shown from
// now on get frames.
bool managerAnnounced(const QByteArray& display) {
    xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
    bool found = false;
    if (!xcb_connection_has_error(c)) {
        const char* name = "_NET_SUPPORTING_WM_CHECK";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, strlen(name), name), nullptr);
        if (atom && atom->atom != XCB_ATOM_NONE) {
            xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
            xcb_get_property_reply_t* p = xcb_get_property_reply(
                c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
            found = p && xcb_get_property_value_length(p) == 4;
            free(p);
        }
        free(atom);
    }
    xcb_disconnect(c);
    return found;
}

}  // namespace

XSession::XSession(int dpi) : dpi_(dpi) {
    if (startServer())
        startManager();
}

XSession::~XSession() {
    stop(openbox_);
    stop(xvfb_);
}

bool XSession::startServer() {
    int fds[2];
    if (pipe(fds) != 0) {
        why_ = QStringLiteral("no pipe for Xvfb's display number");
        return false;
    }
    // -displayfd: Xvfb takes the first free display number itself and writes it to the pipe,
    // so tests running side by side never race for one.
    const QByteArray screen =
        QByteArray::number(1280 * dpi_ / 96) + 'x' + QByteArray::number(1024 * dpi_ / 96) + "x24";
    const pid_t pid =
        spawn({"Xvfb", "-displayfd", QByteArray::number(fds[1]), "-screen", "0", screen, "-dpi",
               QByteArray::number(dpi_), "-nolisten", "tcp", "-noreset"},
              fds[1]);
    close(fds[1]);
    QByteArray number;
    QElapsedTimer t;
    t.start();
    while (!number.endsWith('\n') && t.elapsed() < allowMs(15000)) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[32];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        number.append(buf, n);
    }
    close(fds[0]);
    if (!number.endsWith('\n')) {
        QThread::msleep(50);
        const int status = endedWith(pid);
        why_ = status == 127 ? QStringLiteral("Xvfb is not installed")
               : status >= 0 ? QStringLiteral("Xvfb exited with status %1").arg(status)
                             : QStringLiteral("Xvfb gave no display number in time");
        xvfb_ = pid;
        stop(xvfb_);
        return false;
    }
    xvfb_ = pid;
    display_ = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    setenv("DISPLAY", display_.toLatin1().constData(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    return true;
}

bool XSession::startManager() {
    const pid_t pid = spawn({"openbox", "--sm-disable"});
    QElapsedTimer t;
    t.start();
    while (!managerAnnounced(display_.toLatin1())) {
        const int status = endedWith(pid);
        if (status >= 0 || t.elapsed() > allowMs(15000)) {
            why_ = status == 127 ? QStringLiteral("openbox is not installed")
                   : status >= 0 ? QStringLiteral("openbox exited with status %1").arg(status)
                                 : QStringLiteral("openbox did not start in time");
            if (status < 0) {
                openbox_ = pid;
                stop(openbox_);
            }
            return false;
        }
        QThread::msleep(20);
    }
    openbox_ = pid;
    return true;
}

QString runTool(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(allowMs(10000)))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace testsupport
