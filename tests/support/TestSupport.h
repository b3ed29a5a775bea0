#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <termios.h>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include "platform/ui/MessageBox.h"

namespace testsupport {

// A pseudo-terminal standing in for the controller board's serial port. The test keeps the
// slave side open too, so it can read the line settings the program applied.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    QString slavePath() const { return slavePath_; }
    // Everything the program wrote, waiting up to timeoutMs (stretched by allowMs) for at least
    // `atLeast` bytes.
    QByteArray read(int atLeast = 1, int timeoutMs = 3000);
    // Bytes that arrive within a short quiet period (for "nothing more was sent").
    QByteArray drain(int quietMs = 150);
    // Sends bytes towards the program, as a board answering would.
    void send(const QByteArray& bytes);
    termios lineSettings() const;
    // Pulls the plug: the program's side sees the device go away.
    void closeMaster();
    void closeSlave();
    int masterFd() const { return master_; }

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

// A board that restarts when DTR rises (an Uno, a Nano), on a pseudo-terminal that nothing but
// the program holds open, so each opening and last closing of the program's side shows here.
// An opening after a hang-up (the first one, or one after a closing with HUPCL set, which the
// line starts with as a serial port's does) raises DTR: the board restarts and its bootloader
// swallows what arrives for bootWindowMs. Letters taken and letters swallowed are kept apart.
// While it exists the program counts a pseudo-terminal as a device with DTR.
class ResettingBoard {
public:
    explicit ResettingBoard(int bootWindowMs);
    ~ResettingBoard();
    ResettingBoard(const ResettingBoard&) = delete;
    ResettingBoard& operator=(const ResettingBoard&) = delete;

    QString path() const { return path_; }
    QByteArray taken() const;
    QByteArray lost() const;
    int restarts() const;
    bool restarting() const;
    // Keeps the program's events turning until `count` letters were taken, for at most
    // timeoutMs (stretched by allowMs).
    QByteArray waitTaken(int count, int timeoutMs = 3000);
    // The adapter goes: the program's side sees the device go away. The records stay.
    void pullOut();

private:
    void watch();
    int master_ = -1;
    QString path_;
    const int bootWindowMs_;
    mutable std::mutex mutex_;
    QByteArray taken_;
    QByteArray lost_;
    int restarts_ = 0;
    qint64 bootUntil_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Stands in for the kernel's modem-line wait of every serial port opened while it exists: each
// change() is one change of a line. Like the real wait it blocks until then, and the port's own
// wake-up signal interrupts it.
class FakeModemLines {
public:
    FakeModemLines();
    ~FakeModemLines();
    FakeModemLines(const FakeModemLines&) = delete;
    FakeModemLines& operator=(const FakeModemLines&) = delete;
    void change();

private:
    int pipe_[2] = {-1, -1};
};

// Records every message box and returns at once; onShow runs "while the box is open".
class RecordingMessageBox : public platform::MessageBoxPresenter {
public:
    struct Box {
        QString text;
        int style;
        QString title;
    };
    RecordingMessageBox();
    ~RecordingMessageBox() override;
    void present(const QString& text, int style, const QString& title) override;

    QList<Box> boxes;
    std::function<void(const Box&)> onShow;
};

// Everything a test of the program needs around it: a private settings folder, a serial port
// on a pseudo-terminal named by DOMIVOX_COM1, the program's own folder, message boxes recorded,
// and the end of the program observed instead of performed. Windows left loaded are unloaded
// when it goes.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();

    QString configDir() const { return config_.path(); }
    QString appDir() const { return appDir_.path(); }
    QString settingsFile() const;
    Pty& pty() { return *pty_; }
    RecordingMessageBox& boxes() { return boxes_; }
    bool ended() const { return ended_; }
    // Points port 1 at a device that does not exist.
    void removePort();

private:
    QTemporaryDir config_;
    QTemporaryDir appDir_;
    std::unique_ptr<Pty> pty_;
    RecordingMessageBox boxes_;
    bool ended_ = false;
};

// Counts, by object name, the windows that were ever shown while it exists.
class ShowWatcher : public QObject {
public:
    ShowWatcher();
    ~ShowWatcher() override;
    int shown(const char* name) const { return counts_.value(QLatin1String(name)); }

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    QHash<QString, int> counts_;
};

// Runs deletions that windows scheduled when they unloaded.
void flushDeletes();

// The button names the panel left the factory with, and a store holding them.
extern const char* const kFactoryOn[5];
extern const char* const kFactoryOff[5];
void storeFactoryNames();

// CPU time this process has used so far, user and system, in seconds.
double cpuSeconds();

// A figure of this process's /proc/self/status in KiB ("VmRSS:", "VmHWM:"), or -1.
qint64 statusKiB(const char* field);

// A time bound of the normal build, stretched by the factor in DOMIVOX_TEST_SLOWDOWN for
// builds that run slower (the sanitizer build sets 3). Unset, not a number or outside 1 to 100:
// the bound as it is.
int allowMs(int ms);

// A file as another program leaves it (its folder made first): true when every byte was
// written. readFile gives the bytes, or nothing when the file cannot be read.
bool writeFile(const QString& path, const QByteArray& content);
QByteArray readFile(const QString& path);

}  // namespace testsupport
