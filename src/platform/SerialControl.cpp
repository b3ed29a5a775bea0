#include "platform/SerialControl.h"

#include <cstdio>

#include <QStringList>

#include "platform/Errors.h"

namespace platform {
namespace {

// What an unread device may leave waiting for us; beyond it the kernel holds the rest back.
constexpr qint64 kReceiveBuffer = 1024;

}  // namespace

SerialControl::SerialControl(QObject* parent) : QObject(parent) {
    port_.setReadBufferSize(kReceiveBuffer);
    connect(&port_, &QSerialPort::readyRead, this, &SerialControl::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialControl::onError);
}

SerialControl::~SerialControl() {
    if (port_.isOpen())
        port_.close();
}

QString SerialControl::devicePathFor(int port) {
    const QByteArray override = qgetenv(QStringLiteral("DOMIVOX_COM%1").arg(port).toLatin1());
    if (!override.isEmpty())
        return QString::fromLocal8Bit(override);
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
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
    dtrEnable_ = on;
    if (port_.isOpen())
        applyDtr();
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

bool SerialControl::PortOpen() const { return open_; }

void SerialControl::setPortOpen(bool open) {
    if (!open) {
        open_ = false;
        if (port_.isOpen())
            port_.close();
        return;
    }
    if (open_)
        throw RuntimeError(QStringLiteral("Port already open"));
    openDevice(true);
    open_ = true;
}

void SerialControl::openDevice(bool reportOnStderr) {
    const QString path = devicePath();
    port_.setPortName(path);
    applyLineSettings();
    ownRequest_ = true;
    const bool opened = port_.open(QIODevice::ReadWrite);
    ownRequest_ = false;
    if (!opened) {
        lastFailure_ = describeOpenFailure(port_.error());
        if (reportOnStderr)
            std::fprintf(stderr, "Domivox: cannot open serial port %d (%s): %s\n", commPort_,
                         qPrintable(path), qPrintable(lastFailure_));
        port_.clearError();
        throw RuntimeError(lastFailure_);
    }
    ownRequest_ = true;
    // Nothing asks for RTS; keep it down so the board sees only DTR.
    port_.setRequestToSend(false);
    port_.clearError();
    ownRequest_ = false;
    applyDtr();
    lastFailure_.clear();
}

void SerialControl::loseDevice() {
    // The port stays open for the program; only the dead device handle goes. The next write
    // opens the device again, so a USB adapter plugged back in at the same path just works.
    if (port_.isOpen())
        port_.close();
}

QString SerialControl::describeOpenFailure(QSerialPort::SerialPortError error) const {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return QStringLiteral(
                       "no such device; if your adapter is elsewhere, start Domivox with "
                       "DOMIVOX_COM%1=/dev/ttyUSB0 (or the adapter's path)")
                .arg(commPort_);
        case QSerialPort::PermissionError:
            return QStringLiteral(
                "permission denied or the device is in use; join the 'dialout' group "
                "(sudo adduser $USER dialout, then log in again) and close other programs "
                "using the port");
        case QSerialPort::OpenError:
            return QStringLiteral("the device is busy (already open)");
        default:
            return port_.errorString();
    }
}

void SerialControl::Output(const QString& text) {
    if (!open_) {
        lastFailure_ = QStringLiteral("the port is not open");
        throw RuntimeError(QStringLiteral("Operation valid only when the port is open"));
    }
    if (!port_.isOpen())
        openDevice(false);  // the device went away earlier; it may be back
    const QByteArray bytes = text.toLatin1();
    lineError_ = QSerialPort::NoError;
    if (port_.write(bytes) != bytes.size()) {
        lastFailure_ = port_.errorString();
        loseDevice();
        throw RuntimeError(lastFailure_);
    }
    // Hand the bytes to the device now; whatever the device cannot take yet follows from the
    // event loop. A device that has gone away fails here, before anything else happens.
    // The error is taken from the signal: an OnComm handler may already have cleared it.
    port_.flush();
    if (lineError_ != QSerialPort::NoError && lineError_ != QSerialPort::TimeoutError) {
        lastFailure_ = lineErrorText_;
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
