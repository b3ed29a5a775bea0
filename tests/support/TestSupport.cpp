#include "TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include "platform/app/AppInfo.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/WindowRegistry.h"
#include "store/Module1.h"

namespace testsupport {

bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Pty::Pty() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        qFatal("openpty failed");
    slavePath_ = QString::fromLocal8Bit(name);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Raw on our side too, so the bytes come back exactly as written.
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
}

Pty::~Pty() {
    closeMaster();
    closeSlave();
}

QByteArray Pty::read(int atLeast, int timeoutMs) {
    QByteArray got;
    // A wait for bytes is a bound on wall-clock time like any other: slower builds get longer.
    const int limitMs = allowMs(timeoutMs);
    QElapsedTimer t;
    t.start();
    while (got.size() < atLeast && t.elapsed() < limitMs) {
        char buf[4096];
        const ssize_t n = master_ >= 0 ? ::read(master_, buf, sizeof buf) : -1;
        if (n > 0) {
            got.append(buf, n);
            continue;
        }
        // The program writes from its event loop, so keep it turning while we wait.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ::usleep(1000);
    }
    return got;
}

QByteArray Pty::drain(int quietMs) {
    QByteArray got;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < quietMs) {
        char buf[4096];
        const ssize_t n = master_ >= 0 ? ::read(master_, buf, sizeof buf) : -1;
        if (n > 0) {
            got.append(buf, n);
            quiet.restart();
            continue;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ::usleep(1000);
    }
    return got;
}

void Pty::send(const QByteArray& bytes) {
    if (master_ >= 0)
        (void)!::write(master_, bytes.constData(), bytes.size());
}

termios Pty::lineSettings() const {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
}

void Pty::closeMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void Pty::closeSlave() {
    if (slave_ >= 0)
        ::close(slave_);
    slave_ = -1;
}

namespace {
qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

ResettingBoard::ResettingBoard(int bootWindowMs) : bootWindowMs_(bootWindowMs) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        qFatal("posix_openpt failed");
    path_ = QString::fromLocal8Bit(::ptsname(master_));
    termios t{};
    ::tcgetattr(master_, &t);  // the far side's settings
    ::cfmakeraw(&t);
    t.c_cflag |= HUPCL;
    ::tcsetattr(master_, TCSANOW, &t);
    platform::SerialControl::setPseudoTerminalDtrForTesting(true);
    thread_ = std::thread([this] { watch(); });
}

ResettingBoard::~ResettingBoard() {
    pullOut();
    platform::SerialControl::setPseudoTerminalDtrForTesting(false);
}

void ResettingBoard::pullOut() {
    if (master_ < 0)
        return;
    stop_ = true;
    thread_.join();
    ::close(master_);
    master_ = -1;
}

void ResettingBoard::watch() {
    bool open = false;
    bool hungUp = true;
    for (bool last = false; !last;) {
        last = stop_;  // one more round for what is already written
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, 5);
        const bool hup = p.revents & POLLHUP;
        std::unique_lock<std::mutex> lock(mutex_);
        // Bytes while closed: it was opened, written to and closed between two looks.
        if (!open && (!hup || (p.revents & POLLIN))) {
            open = true;
            if (hungUp) {
                ++restarts_;
                bootUntil_ = steadyMs() + bootWindowMs_;
            }
        }
        char buf[256];
        const ssize_t n = (p.revents & POLLIN) ? ::read(master_, buf, sizeof buf) : 0;
        for (ssize_t i = 0; i < n; ++i)
            (steadyMs() < bootUntil_ ? lost_ : taken_).append(buf[i]);
        if (hup) {
            if (open) {
                termios t{};
                hungUp = ::tcgetattr(master_, &t) != 0 || (t.c_cflag & HUPCL);
            }
            open = false;
            lock.unlock();
            ::usleep(1000);
        }
    }
}

QByteArray ResettingBoard::taken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_;
}
QByteArray ResettingBoard::lost() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_;
}
int ResettingBoard::restarts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return restarts_;
}
bool ResettingBoard::restarting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return steadyMs() < bootUntil_;
}

QByteArray ResettingBoard::waitTaken(int count, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (taken().size() < count && t.elapsed() < allowMs(timeoutMs)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ::usleep(1000);
    }
    return taken();
}

FakeModemLines::FakeModemLines() {
    if (::pipe(pipe_) != 0)
        qFatal("pipe failed");
    const int fd = pipe_[0];
    platform::SerialControl::setModemLineWaitForTesting([fd](int) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, -1) <= 0)
            return false;  // errno says why: EINTR when woken
        char c;
        return ::read(fd, &c, 1) == 1;
    });
}

FakeModemLines::~FakeModemLines() {
    platform::SerialControl::setModemLineWaitForTesting({});
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void FakeModemLines::change() {
    if (::write(pipe_[1], "x", 1) != 1)
        qFatal("pipe write failed");
}

RecordingMessageBox::RecordingMessageBox() {
    platform::setMessageBoxPresenter(this);
}
RecordingMessageBox::~RecordingMessageBox() {
    platform::setMessageBoxPresenter(nullptr);
}

void RecordingMessageBox::present(const QString& text, int style, const QString& title) {
    boxes.append({text, style, title});
    if (onShow)
        onShow(boxes.last());
}

Sandbox::Sandbox() : pty_(std::make_unique<Pty>()) {
    qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    qputenv("DOMIVOX_COM1", pty_->slavePath().toLocal8Bit());
    platform::App::setPathForTesting(appDir_.path());
    platform::App::resetEndedForTesting();
    platform::App::setEndHandlerForTesting([this] { ended_ = true; });
}

Sandbox::~Sandbox() {
    platform::WindowRegistry::unloadAll();
    flushDeletes();
    platform::App::setEndHandlerForTesting({});
    platform::App::resetEndedForTesting();
    platform::App::setPathForTesting(QString());
    qunsetenv("DOMIVOX_COM1");
}

QString Sandbox::settingsFile() const {
    return config_.path() + "/domivox/registry.ini";
}

void Sandbox::removePort() {
    qputenv("DOMIVOX_COM1", (appDir_.path() + "/no-such-port").toLocal8Bit());
}

ShowWatcher::ShowWatcher() {
    QCoreApplication::instance()->installEventFilter(this);
}
ShowWatcher::~ShowWatcher() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool ShowWatcher::eventFilter(QObject* o, QEvent* e) {
    if (e->type() == QEvent::Show && o->isWidgetType() && static_cast<QWidget*>(o)->isWindow())
        ++counts_[o->objectName()];
    return false;
}

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

const char* const kFactoryOn[5] = {"START TV", "START SPRINKLER", "FRONT LIGHTS ON",
                                   "START POOL FILTER", "OPEN GARAGE DOOR"};
const char* const kFactoryOff[5] = {"STOP TV", "STOP SPINKLER", "FRONT LIGHTS OFF",
                                    "STOP POOL FILTER", "CLOSE GARAGE DOOR"};

void storeFactoryNames() {
    for (int n = 1; n <= 5; ++n) {
        Module1::WriteSetting(Setting::ONBUTTON(n), QString::fromLatin1(kFactoryOn[n - 1]));
        Module1::WriteSetting(Setting::OFFBUTTON(n), QString::fromLatin1(kFactoryOff[n - 1]));
    }
}

double cpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

int allowMs(int ms) {
    bool ok = false;
    const double factor = qEnvironmentVariable("DOMIVOX_TEST_SLOWDOWN").toDouble(&ok);
    if (!ok || !(factor > 1.0) || factor > 100.0)
        return ms;
    return static_cast<int>(std::min(ms * factor, double(INT_MAX)));
}

qint64 statusKiB(const char* field) {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

}  // namespace testsupport
