#pragma once

#include <functional>

#include <QList>
#include <QString>
#include <QStringList>

class QTextStream;

namespace PortTool {

enum ExitStatus { kOk = 0, kFailed = 1, kBadUsage = 2 };

// One serial device as the list shows it.
struct Device {
    QString path;        // /dev/ttyUSB0
    QString stableName;  // its /dev/serial/by-id name, or empty
    QString usbId;       // "0403:6001", or empty
    QString manufacturer;
    QString description;
    QString serialNumber;
    bool isPort1 = false;  // port 1 resolves to it
};

// The serial devices the system reports, before port 1 is matched among them. Tests put their
// own in place.
using Scan = std::function<QList<Device>()>;
void setScanForTesting(Scan scan);

// The system's own scan: from sysfs (/sys/class/tty and the USB devices above each tty) and,
// where udev runs, its records in /run/udev/data; it never opens a device. Tests point it at
// folders of their own (empty: the system's).
QList<Device> systemDevices();
void setSystemFoldersForTesting(const QString& sysfs, const QString& udevData);

// The serial devices found, in the order and with the numbers (index + 1) the list shows; the
// device port 1 resolves to is always among them, found or not.
QList<Device> devices();

// Whether this user can open the device, judged from its permissions without opening it (an
// open would raise the modem lines of a board that may be listening).
struct Access {
    enum Kind { Ok, Denied, Missing, Error };
    Kind kind;
    QString text;  // for the user: the reason and, for a refusal, the command that fixes it
};
Access accessTo(const QString& path);

// Runs one command line (without the program name); returns the exit status.
int run(const QStringList& args, QTextStream& out, QTextStream& err);

}  // namespace PortTool
