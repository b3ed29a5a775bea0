#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>

namespace platform {

// Serial communications control. The owner sets the properties in the order it wants and then
// opens the port; writes go out asynchronously on the GUI thread.
//
// Port n is the device /dev/ttyS<n-1>, unless the environment variable DOMIVOX_COM<n> names
// another one (a USB adapter, a /dev/serial/by-id link, a pseudo-terminal).
class SerialControl : public QObject {
    Q_OBJECT
public:
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

    // Received characters waiting unread (bounded: the rest waits in the device).
    qint64 InBufferCount() const { return port_.bytesAvailable(); }

    // The device behind a port number.
    static QString devicePathFor(int port);
    QString devicePath() const { return devicePathFor(commPort_); }

    // Why the last open or write failed, in words for the user.
    QString lastFailure() const { return lastFailure_; }

Q_SIGNALS:
    // Received data at the threshold, or a line error.
    void OnComm();

private:
    void openDevice(bool reportOnStderr);
    void loseDevice();
    void applyLineSettings();
    void applyDtr();
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    QString describeOpenFailure(QSerialPort::SerialPortError error) const;

    QSerialPort port_;
    int rThreshold_ = 0;
    int inputLen_ = 0;
    QString settings_ = QStringLiteral("9600,N,8,1");
    qint32 baud_ = 9600;
    QSerialPort::Parity parity_ = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits_ = QSerialPort::Data8;
    QSerialPort::StopBits stopBits_ = QSerialPort::OneStop;
    bool dtrEnable_ = false;
    bool open_ = false;
    int commPort_ = 1;
    bool ownRequest_ = false;  // errors raised by our own line requests are not line events
    QString lastFailure_;
    QSerialPort::SerialPortError lineError_ = QSerialPort::NoError;
    QString lineErrorText_;
};

}  // namespace platform
