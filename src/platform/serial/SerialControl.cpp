#include "platform/serial/SerialControl.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "platform/Errors.h"
#include "platform/settings/SettingsBackend.h"

namespace platform {
namespace {

// What an unread device may leave waiting for us; beyond it the kernel holds the rest back.
constexpr qint64 kReceiveBuffer = 1024;

// The platform's own corner of the settings file, apart from the program's key and catalogue.
const QString kPortsKey = QStringLiteral("Platform\\Serial");

QString portValueName(int port) {
    return QStringLiteral("COM%1").arg(port);
}

QString& byIdFolder() {
    static QString folder = QStringLiteral("/dev/serial/by-id");
    return folder;
}

bool waitForModemLineChange(int fd) {
    return ::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) == 0;
}

SerialControl::ModemLineWait& modemLineWait() {
    static SerialControl::ModemLineWait wait = waitForModemLineChange;
    return wait;
}

// Wakes a watcher blocked in its wait: the handler does nothing, but without SA_RESTART the
// blocking call returns with EINTR.
int wakeSignal() {
    static const int sig = [] {
        struct sigaction sa {};
        sa.sa_handler = [](int) {};
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGRTMIN, &sa, nullptr);
        return int(SIGRTMIN);
    }();
    return sig;
}

qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool& pseudoTerminalDtr() {
    static bool on = false;
    return on;
}

}  // namespace

// A thread blocked in the modem-line wait for as long as the device is open; each change is
// posted to the window thread. Devices without modem lines (a pseudo-terminal, some adapters)
// refuse the wait at once and the thread ends.
struct SerialControl::LineWatcher {
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> done{false};
};

SerialControl::SerialControl(QObject* parent) : QObject(parent) {
    port_.setReadBufferSize(kReceiveBuffer);
    connect(&port_, &QSerialPort::readyRead, this, &SerialControl::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialControl::onError);
}

SerialControl::~SerialControl() {
    closeDevice();
}

SerialControl::PortChoice SerialControl::choiceFor(int port) {
    const QByteArray override = qgetenv(QStringLiteral("DOMIVOX_COM%1").arg(port).toLatin1());
    if (!override.isEmpty())
        return {QString::fromLocal8Bit(override), PortSource::Variable};
    const QString remembered = rememberedDevice(port);
    if (!remembered.isEmpty())
        return {remembered, PortSource::Remembered};
    // A settings file that is there but cannot be read may hold a choice: the default device
    // could be anything, and opening it would raise the lines of whatever hangs on it.
    if (SettingsBackend::readProblem())
        return {QString(), PortSource::Unreadable};
    return {QStringLiteral("/dev/ttyS%1").arg(port - 1), PortSource::Default};
}

QString SerialControl::rememberedDevice(int port) {
    return SettingsBackend::readHandEdited(kPortsKey, portValueName(port))
        .value_or(QString())
        .trimmed();
}

std::optional<QString> SerialControl::rememberDevice(int port, const QString& device) {
    const QString name = stableNameFor(QFileInfo(device).absoluteFilePath());
    if (!SettingsBackend::write(kPortsKey, portValueName(port), name))
        return std::nullopt;
    return name;
}

bool SerialControl::forgetDevice(int port) {
    return SettingsBackend::remove(kPortsKey, portValueName(port));
}

QString SerialControl::stableNameFor(const QString& device) {
    if (QFileInfo(device).isSymLink())
        return device;
    const QString byId = byIdNameOf(device);
    return byId.isEmpty() ? device : byId;
}

QString SerialControl::byIdNameOf(const QString& device) {
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return QString();
    QDir folder(byIdFolder());
    const QStringList names =
        folder.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QString link = folder.filePath(name);
        if (QFileInfo(link).canonicalFilePath() == target)
            return link;
    }
    return QString();
}

QString SerialControl::stableNameFolder() {
    return byIdFolder();
}

void SerialControl::setStableNameFolderForTesting(const QString& folder) {
    byIdFolder() = folder.isEmpty() ? QStringLiteral("/dev/serial/by-id") : folder;
}

void SerialControl::setPseudoTerminalDtrForTesting(bool on) {
    pseudoTerminalDtr() = on;
}

void SerialControl::setModemLineWaitForTesting(ModemLineWait wait) {
    modemLineWait() = wait ? std::move(wait) : ModemLineWait(waitForModemLineChange);
}

QString SerialControl::adviceFor(Failure kind) {
    switch (kind) {
        case Failure::None:
            return QString();
        case Failure::Missing:
            return QStringLiteral(
                "If the board hangs on a USB serial adapter, run domivox-port in a terminal: it "
                "lists the serial devices, and domivox-port set NUMBER makes the adapter port 1.");
        case Failure::Permission:
            return QStringLiteral(
                "Your user may not open serial devices yet. Run\n    sudo adduser \"$USER\" "
                "dialout\nin a terminal, then log out and in again.");
        case Failure::Busy:
            return QStringLiteral(
                "Another program holds the device (a terminal program, a second Domivox); close "
                "it and try again.");
        case Failure::Gone:
            return QStringLiteral(
                "Check that the board's cable or adapter is plugged in; the next command tries "
                "the device again.");
        case Failure::NotOpen:
        case Failure::Other:
            break;
    }
    return QStringLiteral("Check the board's connection; domivox-port check tries the port.");
}

void SerialControl::setFailure(Failure kind, const QString& reason) {
    failure_ = kind;
    lastFailure_ = reason;
}

void SerialControl::setRThreshold(int n) {
    if (n < 0)
        throw RuntimeError(QStringLiteral("Invalid property value: RThreshold %1").arg(n));
    rThreshold_ = n;
}

void SerialControl::setInputLen(int n) {
    if (n < 0)
        throw RuntimeError(QStringLiteral("Invalid property value: InputLen %1").arg(n));
    inputLen_ = n;
}

void SerialControl::setSettings(const QString& text) {
    const QStringList f = text.split(QLatin1Char(','));
    bool ok = f.size() == 4;
    qint32 baud = 0;
    if (ok) {
        baud = f[0].trimmed().toInt(&ok);
        ok = ok && baud > 0;
    }
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits data = QSerialPort::Data8;
    QSerialPort::StopBits stop = QSerialPort::OneStop;
    if (ok) {
        const QString p = f[1].trimmed().toUpper();
        if (p == QLatin1String("N"))
            parity = QSerialPort::NoParity;
        else if (p == QLatin1String("E"))
            parity = QSerialPort::EvenParity;
        else if (p == QLatin1String("O"))
            parity = QSerialPort::OddParity;
        else if (p == QLatin1String("M"))
            parity = QSerialPort::MarkParity;
        else if (p == QLatin1String("S"))
            parity = QSerialPort::SpaceParity;
        else
            ok = false;
    }
    if (ok) {
        const int d = f[2].trimmed().toInt(&ok);
        if (ok && d >= 5 && d <= 8)
            data = static_cast<QSerialPort::DataBits>(d);
        else
            ok = false;
    }
    if (ok) {
        const QString s = f[3].trimmed();
        if (s == QLatin1String("1"))
            stop = QSerialPort::OneStop;
        else if (s == QLatin1String("1.5"))
            stop = QSerialPort::OneAndHalfStop;
        else if (s == QLatin1String("2"))
            stop = QSerialPort::TwoStop;
        else
            ok = false;
    }
    if (!ok)
        throw RuntimeError(QStringLiteral("Invalid port settings: \"%1\"").arg(text));
    settings_ = text;
    baud_ = baud;
    parity_ = parity;
    dataBits_ = data;
    stopBits_ = stop;
    if (port_.isOpen())
        applyLineSettings();
}

void SerialControl::applyLineSettings() {
    port_.setBaudRate(baud_);
    port_.setParity(parity_);
    port_.setDataBits(dataBits_);
    port_.setStopBits(stopBits_);
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

void SerialControl::setDTREnable(bool on) {
    const bool rises = on && !dtrEnable_ && port_.isOpen() && hasDtr_;
    dtrEnable_ = on;
    if (port_.isOpen())
        applyDtr();
    if (rises)
        dtrRoseAt_ = steadyMs();
}

qint64 SerialControl::msSinceDtrRose() const {
    return dtrRoseAt_ < 0 ? -1 : steadyMs() - dtrRoseAt_;
}

void SerialControl::applyDtr() {
    // A pseudo-terminal or a three-wire adapter has no modem lines; the refusal does not make
    // the port unusable, so it is neither an open failure nor a line event.
    ownRequest_ = true;
    port_.setDataTerminalReady(dtrEnable_);
    port_.clearError();
    ownRequest_ = false;
}

void SerialControl::setCommPort(int port) {
    if (port < 1)
        throw RuntimeError(QStringLiteral("Invalid port number %1").arg(port));
    if (open_)
        throw RuntimeError(QStringLiteral("Port already open"));
    commPort_ = port;
}

bool SerialControl::PortOpen() const {
    return open_;
}

void SerialControl::setPortOpen(bool open) {
    if (!open) {
        open_ = false;
        closeDevice();
        return;
    }
    if (open_)
        throw RuntimeError(QStringLiteral("Port already open"));
    openDevice(reportOpenFailures_);
    open_ = true;
}

void SerialControl::closeDevice(bool gone) {
    stopLineWatcher();
    hasDtr_ = false;
    dtrRoseAt_ = -1;
    if (!port_.isOpen())
        return;
    if (keepLinesAtClose_ && !gone) {
        closeKeepingLines();
        return;
    }
    ownRequest_ = true;
    if (!keepLinesAtClose_) {
        // Closing drops the lines only when the line's HUPCL flag says so, and the settings the
        // port had before it was opened come back with the close: lower both here, whatever
        // they say.
        port_.setDataTerminalReady(false);
        port_.setRequestToSend(false);
    }
    port_.clearError();
    ownRequest_ = false;
    port_.close();
}

void SerialControl::closeKeepingLines() {
    // The last close hangs the line up (DTR and RTS down) when HUPCL is set, and the serial
    // port puts back the settings it found at opening, HUPCL included, as it closes. So the
    // last close is made here, on a second handle, once the port has closed and HUPCL is off.
    const int last = ::dup(int(port_.handle()));
    ownRequest_ = true;
    port_.clearError();
    port_.close();
    ownRequest_ = false;
    if (last < 0)
        return;
    termios t{};
    if (::tcgetattr(last, &t) == 0) {
        t.c_cflag &= ~tcflag_t(HUPCL);
        ::tcsetattr(last, TCSANOW, &t);
    }
    ::close(last);
}

void SerialControl::startLineWatcher() {
    stopLineWatcher();
    const int fd = int(port_.handle());
    if (fd < 0)
        return;
    wakeSignal();
    const quint64 watch = ++lineWatch_;
    lineWatcher_ = std::make_unique<LineWatcher>();
    LineWatcher* w = lineWatcher_.get();
    ModemLineWait wait = modemLineWait();
    w->thread = std::thread([this, w, fd, watch, wait] {
        // Whatever the starting thread blocks, the wake-up must get through.
        sigset_t wake;
        sigemptyset(&wake);
        sigaddset(&wake, wakeSignal());
        pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
        while (!w->stopping) {
            const bool changed = wait(fd);
            if (w->stopping)
                break;
            if (!changed) {
                if (errno == EINTR)
                    continue;
                break;  // no modem lines to watch, or the device went away
            }
            QMetaObject::invokeMethod(
                this,
                [this, watch] {
                    if (watch == lineWatch_ && port_.isOpen())
                        Q_EMIT OnComm();
                },
                Qt::QueuedConnection);
        }
        w->done = true;
    });
}

void SerialControl::stopLineWatcher() {
    if (!lineWatcher_)
        return;
    LineWatcher& w = *lineWatcher_;
    w.stopping = true;
    // The wake-up may come just before the thread enters its wait; knock until it has left.
    while (!w.done) {
        ::pthread_kill(w.thread.native_handle(), wakeSignal());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    w.thread.join();
    lineWatcher_.reset();
}

void SerialControl::openDevice(bool reportOnStderr) {
    const QString path = devicePath();
    if (path.isEmpty()) {
        setFailure(Failure::Other,
                   QStringLiteral("the settings file %1 cannot be read (%2), so the device chosen "
                                  "for port %3 is unknown")
                       .arg(SettingsBackend::filePath(),
                            SettingsBackend::readProblem().value_or(QStringLiteral("unknown")))
                       .arg(commPort_));
        if (reportOnStderr)
            std::fprintf(stderr, "Domivox: cannot open serial port %d: %s.\n", commPort_,
                         qPrintable(lastFailure_));
        throw RuntimeError(lastFailure_);
    }
    port_.setPortName(path);
    applyLineSettings();
    ownRequest_ = true;
    const bool opened = port_.open(QIODevice::ReadWrite);
    ownRequest_ = false;
    if (!opened) {
        const Failure kind = classifyOpenFailure(port_.error(), path);
        switch (kind) {
            case Failure::Missing:
                setFailure(kind, QStringLiteral("no such device"));
                break;
            case Failure::Permission:
                setFailure(kind, QStringLiteral("permission denied"));
                break;
            case Failure::Busy:
                setFailure(kind, QStringLiteral("the device is busy"));
                break;
            default:
                setFailure(kind, port_.errorString());
                break;
        }
        if (reportOnStderr)
            std::fprintf(stderr, "Domivox: cannot open serial port %d (%s): %s. %s\n", commPort_,
                         qPrintable(path), qPrintable(lastFailure_),
                         qPrintable(adviceFor(kind).simplified()));
        port_.clearError();
        throw RuntimeError(lastFailure_);
    }
    // Nothing asks for RTS; keep it down so the board sees only DTR. Linux raises DTR and RTS
    // inside open() itself whenever the line's speed is not B0 (tty_port_block_til_ready; HUPCL
    // only lowers them at the last close), and again when a speed replaces B0: no flag of open()
    // prevents it. So RTS is lowered by the first request made after the opening returns, before
    // DTR is set and before anything is written; the raise lasts as long as the opening itself.
    ownRequest_ = true;
    port_.setRequestToSend(false);
    port_.clearError();
    ownRequest_ = false;
    applyDtr();
    noteOpeningEdge();
    setFailure(Failure::None, QString());
    startLineWatcher();
}

void SerialControl::noteOpeningEdge() {
    // open() has just raised DTR. Whether it was still up from a closing that kept the lines
    // depends on the adapter's driver (some switch their UART off when the port closes), and the
    // pin itself cannot be read back: so every opening counts as a rise.
    int lines = 0;
    hasDtr_ = ::ioctl(int(port_.handle()), TIOCMGET, &lines) == 0 || pseudoTerminalDtr();
    dtrRoseAt_ = hasDtr_ ? steadyMs() : -1;
}

void SerialControl::loseDevice() {
    // The port stays open for the program; only the dead device handle goes. The next write
    // opens the device again, so a USB adapter plugged back in at the same path just works.
    closeDevice(true);
}

SerialControl::Failure SerialControl::classifyOpenFailure(QSerialPort::SerialPortError error,
                                                          const QString& path) const {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return Failure::Missing;
        case QSerialPort::PermissionError:
            // The serial port reports a refused open, a held lock file and an exclusive device
            // alike; the file's own permissions tell them apart.
            if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0)
                return Failure::Busy;
            return errno == ENOENT ? Failure::Missing : Failure::Permission;
        case QSerialPort::OpenError:
            return Failure::Busy;
        default:
            return Failure::Other;
    }
}

void SerialControl::reopenIfGone() {
    if (!open_) {
        // The reason the opening failed stays the one to tell.
        if (failure_ == Failure::None)
            setFailure(Failure::NotOpen, QStringLiteral("the port is not open"));
        throw RuntimeError(QStringLiteral("Operation valid only when the port is open"));
    }
    if (!port_.isOpen())
        openDevice(false);  // the device went away earlier; it may be back
}

void SerialControl::Output(const QString& text) {
    reopenIfGone();
    const QByteArray bytes = text.toLatin1();
    lineError_ = QSerialPort::NoError;
    if (port_.write(bytes) != bytes.size()) {
        setFailure(Failure::Gone, port_.errorString());
        loseDevice();
        throw RuntimeError(lastFailure_);
    }
    // Hand the bytes to the device now; whatever the device cannot take yet follows from the
    // event loop. A device that has gone away fails here, before anything else happens.
    // The error is taken from the signal: an OnComm handler may already have cleared it.
    port_.flush();
    if (lineError_ != QSerialPort::NoError && lineError_ != QSerialPort::TimeoutError) {
        setFailure(Failure::Gone, lineErrorText_);
        loseDevice();
        throw RuntimeError(lastFailure_);
    }
}

void SerialControl::onReadyRead() {
    // Nothing is ever read: the data stays waiting, as the board's answers mean nothing here.
    if (rThreshold_ > 0 && port_.bytesAvailable() >= rThreshold_)
        Q_EMIT OnComm();
}

void SerialControl::onError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || ownRequest_)
        return;
    lineError_ = error;
    lineErrorText_ = port_.errorString();
    if (error == QSerialPort::ResourceError)
        loseDevice();
    Q_EMIT OnComm();
}

}  // namespace platform
