#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QSerialPort>
#include <QString>

namespace platform {

// Serial communications control. The owner sets the properties in the order it wants and then
// opens the port; writes go out asynchronously on the GUI thread.
//
// Port n is the device named by the environment variable DOMIVOX_COM<n> when it is set (scripts,
// the board simulator), else the device the user chose for it with domivox-port (kept in the
// settings file), else /dev/ttyS<n-1>; none when the settings file cannot be read.
class SerialControl : public QObject {
    Q_OBJECT
public:
    // Unreadable: the settings file is there but cannot be read, so the device is not known
    // (the device is then empty and opening fails).
    enum class PortSource { Variable, Remembered, Default, Unreadable };
    struct PortChoice {
        QString device;
        PortSource source;
    };

    // Why the last open or write failed.
    enum class Failure {
        None,
        NotOpen,     // never opened
        Missing,     // no such device
        Permission,  // this user may not open it
        Busy,        // another program holds it
        Gone,        // the device went away while open (an adapter pulled out)
        Other,
    };

    explicit SerialControl(QObject* parent = nullptr);
    ~SerialControl() override;

    // Received-character count that raises OnComm (0: never for received data).
    int RThreshold() const { return rThreshold_; }
    void setRThreshold(int n);

    int InputLen() const { return inputLen_; }
    void setInputLen(int n);

    // "baud,parity,data,stop", e.g. "2400,N,8,1". Throws RuntimeError on text it cannot use.
    QString Settings() const { return settings_; }
    void setSettings(const QString& text);

    bool DTREnable() const { return dtrEnable_; }
    void setDTREnable(bool on);

    int CommPort() const { return commPort_; }
    // Throws RuntimeError for a number below 1 or while the port is open.
    void setCommPort(int port);

    // Open for the program from a successful opening until it is closed, even while the device
    // behind it has gone away (a USB adapter pulled out): writes then fail, and the first write
    // after the device is back at the same path opens it again and goes out.
    bool PortOpen() const;
    // Opening throws RuntimeError when the device cannot be opened; one line on stderr then
    // tells the user why (missing device, permission, busy).
    void setPortOpen(bool open);

    // Writes the text as 8-bit characters, nothing added. Throws RuntimeError when the port is
    // not open or the device refuses the write.
    void Output(const QString& text);

    // Opens the device again when it went away while the port was open and may be back (an
    // adapter plugged in again); Output does it itself. Throws RuntimeError when it is still
    // gone or the port is not open.
    void reopenIfGone();

    // How long ago this port last raised DTR, in milliseconds, or -1 when it has not since the
    // device was opened: every opening counts (the kernel's open() raises it), and so does
    // DTREnable switched on while open. A device without modem lines (a pseudo-terminal) has no
    // DTR to raise.
    qint64 msSinceDtrRose() const;

    // Closing normally lowers DTR and RTS. Kept, the lines stay as they are through the closing:
    // the line's hang-up on close (HUPCL) is cleared, so where the adapter's driver leaves its
    // lines alone too, a board whose reset hangs on DTR sees no edge when the device is opened
    // again.
    void setKeepLinesAtClose(bool keep) { keepLinesAtClose_ = keep; }

    // Tests: a pseudo-terminal counts as a device with DTR, so its openings are waited out like a
    // real board's restart (a board stand-in on one restarts as it sees them).
    static void setPseudoTerminalDtrForTesting(bool on);

    // Received characters waiting unread (bounded: the rest waits in the device).
    qint64 InBufferCount() const { return port_.bytesAvailable(); }

    // The device behind a port number, and where that came from.
    static PortChoice choiceFor(int port);
    static QString devicePathFor(int port) { return choiceFor(port).device; }
    QString devicePath() const { return devicePathFor(commPort_); }

    // The device the user chose for a port, as stored (empty when none). Kept per user in the
    // settings file, section [Platform\Serial], value COM<n>, where it can be edited by hand.
    static QString rememberedDevice(int port);
    // Remembers the device for a port under its stable name (see stableNameFor). Returns the
    // name stored, or nothing when the settings file could not be written.
    static std::optional<QString> rememberDevice(int port, const QString& device);
    static bool forgetDevice(int port);

    // The /dev/serial/by-id name of a kernel device name such as /dev/ttyUSB0, which survives
    // replugging and renumbering; a link the user gave (already a name of their choosing) and a
    // device without such a name stay as they are.
    static QString stableNameFor(const QString& device);
    // The /dev/serial/by-id link that leads to the same device, or empty.
    static QString byIdNameOf(const QString& device);
    static QString stableNameFolder();
    static void setStableNameFolderForTesting(const QString& folder);

    // Why the last open or write failed: the kind, and the reason in words for the user.
    Failure lastFailureKind() const { return failure_; }
    QString lastFailure() const { return lastFailure_; }
    // What the user can do about a failure of that kind, in a sentence or two.
    static QString adviceFor(Failure kind);

    // An open failure is told on stderr, unless the owner reports it itself.
    void setReportOpenFailures(bool on) { reportOpenFailures_ = on; }

    // The wait for a change of CTS, DSR, DCD or RI on an open device's descriptor. Returns true
    // at a change; false (errno set) when interrupted or when the device cannot report changes.
    using ModemLineWait = std::function<bool(int fd)>;
    static void setModemLineWaitForTesting(ModemLineWait wait);

Q_SIGNALS:
    // Received data at the threshold, a modem-line change, or a line error.
    void OnComm();

private:
    struct LineWatcher;
    void startLineWatcher();
    void stopLineWatcher();
    void closeDevice(bool gone = false);
    void closeKeepingLines();
    void noteOpeningEdge();
    void setFailure(Failure kind, const QString& reason);
    void openDevice(bool reportOnStderr);
    void loseDevice();
    void applyLineSettings();
    void applyDtr();
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    Failure classifyOpenFailure(QSerialPort::SerialPortError error, const QString& path) const;

    QSerialPort port_;
    int rThreshold_ = 0;
    int inputLen_ = 0;
    QString settings_ = QStringLiteral("9600,N,8,1");
    qint32 baud_ = 9600;
    QSerialPort::Parity parity_ = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits_ = QSerialPort::Data8;
    QSerialPort::StopBits stopBits_ = QSerialPort::OneStop;
    bool dtrEnable_ = false;
    bool hasDtr_ = false;  // the open device has a DTR line
    bool keepLinesAtClose_ = false;
    qint64 dtrRoseAt_ = -1;  // steady-clock milliseconds
    bool open_ = false;
    int commPort_ = 1;
    bool ownRequest_ = false;  // errors raised by our own line requests are not line events
    bool reportOpenFailures_ = true;
    Failure failure_ = Failure::None;
    QString lastFailure_;
    std::unique_ptr<LineWatcher> lineWatcher_;
    quint64 lineWatch_ = 0;  // which opening the watcher's news belongs to
    QSerialPort::SerialPortError lineError_ = QSerialPort::NoError;
    QString lineErrorText_;
};

}  // namespace platform
