#include "PortTool.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include "platform/Errors.h"
#include "platform/serial/SerialControl.h"
#include "platform/settings/SettingsBackend.h"

using platform::SerialControl;

namespace PortTool {
namespace {

constexpr int kPort = 1;

const char* const kHelp =
    "Usage: domivox-port [--plain]     list the serial devices and show which one is port 1\n"
    "       domivox-port set DEVICE    make DEVICE port 1: a path, a /dev/serial/by-id name\n"
    "                                  or the number the list shows\n"
    "       domivox-port clear         forget the choice\n"
    "       domivox-port check         open port 1 at 2400 baud 8N1 as the program does and\n"
    "                                  close it again, sending nothing; tells what DTR and\n"
    "                                  RTS were while it was open and as it was closed\n"
    "       domivox-port --help\n"
    "\n"
    "Port 1 is the device named by the variable DOMIVOX_COM1 when it is set, else the device\n"
    "chosen with \"domivox-port set\", else /dev/ttyS0. The choice is kept for your user in\n"
    "Domivox's settings file, by its /dev/serial/by-id name when the device has one, so it\n"
    "survives replugging. set and check take only a serial port or a pseudo-terminal.\n"
    "\n"
    "--plain prints one line per device, fields separated by tabs: number, path, by-id name,\n"
    "USB vendor:product, manufacturer, description, serial number, where port 1 comes from\n"
    "(variable, remembered or default; empty for the other devices), and whether you can open\n"
    "it (ok, denied, missing or error).\n"
    "\n"
    "Exit status: 0 on success, 1 when the command could not be done, 2 on bad usage.\n";

QString sourceWord(SerialControl::PortSource source) {
    switch (source) {
        case SerialControl::PortSource::Variable:
            return QStringLiteral("variable");
        case SerialControl::PortSource::Remembered:
            return QStringLiteral("remembered");
        case SerialControl::PortSource::Unreadable:
            return QStringLiteral("unknown");
        case SerialControl::PortSource::Default:
            break;
    }
    return QStringLiteral("default");
}

QString sourceText(SerialControl::PortSource source) {
    switch (source) {
        case SerialControl::PortSource::Variable:
            return QStringLiteral(
                       "set by the variable DOMIVOX_COM%1, which comes before any "
                       "remembered choice")
                .arg(kPort);
        case SerialControl::PortSource::Remembered:
            return QStringLiteral("remembered in %1").arg(platform::SettingsBackend::filePath());
        case SerialControl::PortSource::Unreadable:
            return QStringLiteral("unknown: %1 cannot be read")
                .arg(platform::SettingsBackend::filePath());
        case SerialControl::PortSource::Default:
            break;
    }
    return QStringLiteral("the default; nothing is remembered");
}

bool inGroup(gid_t gid) {
    if (::getegid() == gid)
        return true;
    const int n = ::getgroups(0, nullptr);
    QList<gid_t> groups(std::max(n, 0));
    if (n > 0 && ::getgroups(n, groups.data()) == n)
        return groups.contains(gid);
    return false;
}

// Whether the group database lists this user in the group: then only a new login is missing.
bool listedInGroup(const struct group* g) {
    const struct passwd* me = ::getpwuid(::getuid());
    if (!me)
        return false;
    if (me->pw_gid == g->gr_gid)
        return true;
    for (char** member = g->gr_mem; member && *member; ++member)
        if (std::strcmp(*member, me->pw_name) == 0)
            return true;
    return false;
}

QString clean(QString field) {
    field.replace(QLatin1Char('\t'), QLatin1Char(' '));
    field.replace(QLatin1Char('\n'), QLatin1Char(' '));
    field.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return field;
}

// Port 1's remembered choice lives in the settings file: a file that is there but cannot be read
// would make every command work on the default device as if nothing were remembered.
bool settingsReadable(QTextStream& err, bool portFromVariable) {
    const std::optional<QString> problem = platform::SettingsBackend::readProblem();
    if (!problem)
        return true;
    err << "domivox-port: cannot read the settings file " << platform::SettingsBackend::filePath()
        << ": " << *problem
        << (portFromVariable ? "; the remembered choice cannot be changed until it can be read\n"
                             : "; port 1 is unknown until it can be read\n");
    err.flush();
    return false;
}

int usageError(QTextStream& err, const QString& what) {
    err << "domivox-port: " << what << "\n"
        << "Try 'domivox-port --help'.\n";
    err.flush();
    return kBadUsage;
}

void list(bool plain, QTextStream& out) {
    const SerialControl::PortChoice choice = SerialControl::choiceFor(kPort);
    const QList<Device> all = devices();
    if (!plain)
        out << "Port 1 is " << choice.device << " (" << sourceText(choice.source) << ").\n\n";
    int number = 0;
    for (const Device& d : all) {
        ++number;
        const Access access = accessTo(d.path);
        if (plain) {
            static const char* const kAccess[] = {"ok", "denied", "missing", "error"};
            const QStringList fields = {QString::number(number),
                                        d.path,
                                        d.stableName,
                                        d.usbId,
                                        d.manufacturer,
                                        d.description,
                                        d.serialNumber,
                                        d.isPort1 ? sourceWord(choice.source) : QString(),
                                        QString::fromLatin1(kAccess[access.kind])};
            QStringList cleaned;
            for (const QString& f : fields)
                cleaned << clean(f);
            out << cleaned.join(QLatin1Char('\t')) << '\n';
            continue;
        }
        out << (d.isPort1 ? "* " : "  ") << qSetFieldWidth(2) << Qt::right << number
            << qSetFieldWidth(0) << Qt::left << "  " << d.path << (d.isPort1 ? "   <- port 1" : "")
            << '\n';
        const auto row = [&out](const char* label, const QString& value) {
            if (!value.isEmpty())
                out << "      " << qSetFieldWidth(15) << label << qSetFieldWidth(0) << value
                    << '\n';
        };
        row("by-id name", d.stableName);
        row("USB id", d.usbId);
        row("manufacturer", d.manufacturer);
        row("description", d.description);
        row("serial number", d.serialNumber);
        row("access", access.kind == Access::Ok ? QStringLiteral("you can open it") : access.text);
    }
    if (!plain)
        out << "\n'domivox-port set NUMBER' makes a device port 1; 'domivox-port check' tries "
               "port 1.\n";
    out.flush();
}

QString& sysfsRoot() {
    static QString root = QStringLiteral("/sys");
    return root;
}

QString& udevDataRoot() {
    static QString root = QStringLiteral("/run/udev/data");
    return root;
}

// One line of a small text file (a sysfs attribute, never a device), trimmed; empty when absent.
QString attribute(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.read(4096)).trimmed();
}

// Why a device cannot be port 1, or nothing when it can: it must be a serial port the kernel has
// a driver for, or a pseudo-terminal (a board simulator, a test). Told from sysfs alone: opening
// an unknown character device may do anything (a watchdog's starts counting down to a reboot).
std::optional<QString> notSerial(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    struct stat st {};
    if (canonical.isEmpty() || ::stat(QFile::encodeName(canonical).constData(), &st) != 0)
        return QStringLiteral("no such device");
    if (!S_ISCHR(st.st_mode))
        return QStringLiteral("it is not a device");
    const unsigned int majorNumber = major(st.st_rdev);
    static const QRegularExpression pseudoTerminal(QStringLiteral("^/dev/pts/[0-9]+$"));
    if (majorNumber >= 136 && majorNumber <= 143 && pseudoTerminal.match(canonical).hasMatch())
        return std::nullopt;
    // The tty of that name, and the very device node: a copy of a node elsewhere may be anything.
    const QString entry =
        sysfsRoot() + QStringLiteral("/class/tty/") + QFileInfo(canonical).fileName();
    if (attribute(entry + QStringLiteral("/dev")) !=
        QStringLiteral("%1:%2").arg(majorNumber).arg(minor(st.st_rdev)))
        return QStringLiteral("it is not a terminal");
    if (!QFileInfo::exists(entry + QStringLiteral("/device/driver")))
        return QStringLiteral(
            "it is a terminal with no serial port behind it (a virtual console "
            "or the like)");
    if (attribute(entry + QStringLiteral("/type")) == QLatin1String("0"))
        return QStringLiteral("it is a built-in port the kernel found no chip behind");
    return std::nullopt;
}

// A device named on the command line: a number from the list, a path, or a bare name found in
// /dev or /dev/serial/by-id.
QString deviceFromArgument(const QString& arg, QTextStream& err, bool& ok) {
    ok = false;
    bool isNumber = false;
    const int n = arg.toInt(&isNumber);
    if (isNumber) {
        const QList<Device> all = devices();
        if (n < 1 || n > all.size()) {
            err << "domivox-port: the list has no device " << arg
                << "; 'domivox-port' shows the numbers\n";
            return QString();
        }
        // The list shows port 1 even when it is no serial device (a hand-edited path).
        const Device& d = all.at(n - 1);
        const QString chosen = d.stableName.isEmpty() ? d.path : d.stableName;
        if (const std::optional<QString> why = notSerial(chosen)) {
            err << "domivox-port: device " << arg << " (" << chosen
                << ") cannot be port 1: " << *why << '\n';
            return QString();
        }
        ok = true;
        return chosen;
    }
    QString path = arg;
    if (!arg.contains(QLatin1Char('/'))) {
        for (const QString& folder : {QStringLiteral("/dev"), SerialControl::stableNameFolder()}) {
            if (QFileInfo::exists(folder + QLatin1Char('/') + arg)) {
                path = folder + QLatin1Char('/') + arg;
                break;
            }
        }
    }
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        err << "domivox-port: " << arg << ": no such device\n";
        return QString();
    }
    if (const std::optional<QString> why = notSerial(path)) {
        err << "domivox-port: " << arg << " is not a serial device: " << *why << '\n';
        return QString();
    }
    ok = true;
    return path;
}

void noteVariable(QTextStream& out) {
    if (SerialControl::choiceFor(kPort).source == SerialControl::PortSource::Variable)
        out << "Note: DOMIVOX_COM1 is set here and comes first; unset it to use the "
               "remembered choice.\n";
}

int set(const QString& arg, QTextStream& out, QTextStream& err) {
    bool ok = false;
    const QString device = deviceFromArgument(arg, err, ok);
    if (!ok) {
        err.flush();
        return kFailed;
    }
    const std::optional<QString> stored = SerialControl::rememberDevice(kPort, device);
    if (!stored) {
        err << "domivox-port: the choice could not be saved in "
            << platform::SettingsBackend::filePath() << ": "
            << platform::SettingsBackend::lastSaveFailure() << '\n';
        err.flush();
        return kFailed;
    }
    out << "Port 1 is now " << *stored;
    if (*stored != QFileInfo(device).absoluteFilePath())
        out << " (the stable name of " << device << ")";
    out << ".\nRemembered in " << platform::SettingsBackend::filePath() << ".\n";
    const Access access = accessTo(*stored);
    if (access.kind != Access::Ok)
        out << "Note: " << access.text << '\n';
    noteVariable(out);
    out.flush();
    return kOk;
}

int clear(QTextStream& out, QTextStream& err) {
    if (!SerialControl::forgetDevice(kPort)) {
        err << "domivox-port: the choice could not be removed from "
            << platform::SettingsBackend::filePath() << ": "
            << platform::SettingsBackend::lastSaveFailure() << "; nothing changed\n";
        err.flush();
        return kFailed;
    }
    const SerialControl::PortChoice choice = SerialControl::choiceFor(kPort);
    out << "The choice for port 1 is forgotten; port 1 is now " << choice.device << " ("
        << sourceText(choice.source) << ").\n";
    out.flush();
    return kOk;
}

// The descriptors this process holds on a device (from /proc, which names each one's file).
QSet<int> descriptorsOn(const QString& canonical) {
    QSet<int> found;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name :
         fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (QFileInfo(fds.filePath(name)).symLinkTarget() == canonical)
            found.insert(name.toInt());
    return found;
}

// DTR and RTS as the device reports them.
struct ModemLines {
    bool known = false;
    bool dtr = false;
    bool rts = false;
    int why = 0;  // errno when not known
};

ModemLines modemLinesOf(int fd) {
    ModemLines lines;
    int bits = 0;
    if (fd < 0 || ::ioctl(fd, TIOCMGET, &bits) != 0) {
        lines.why = fd < 0 ? EBADF : errno;
        return lines;
    }
    lines.known = true;
    lines.dtr = bits & TIOCM_DTR;
    lines.rts = bits & TIOCM_RTS;
    return lines;
}

// What the lines were, read back from the device rather than taken from the requests made.
QString linesReport(const ModemLines& open, const ModemLines& closing, bool dtrAsked) {
    if (!open.known && (open.why == ENOTTY || open.why == EINVAL))
        return QStringLiteral(
            "The device has no DTR and RTS lines to set (a pseudo-terminal, or "
            "an adapter without them).\n");
    if (!open.known)
        return QStringLiteral("DTR and RTS could not be read back (%1).\n")
            .arg(open.why == EBADF ? QStringLiteral("the opened device was not found in /proc")
                                   : QString::fromLocal8Bit(std::strerror(open.why)));
    const auto level = [](bool high) {
        return high ? QStringLiteral("high") : QStringLiteral("low");
    };
    QString text = QStringLiteral(
                       "Linux raises DTR and RTS as it opens the device; while it was "
                       "open, DTR was %1 and RTS %2")
                       .arg(level(open.dtr), level(open.rts));
    if (closing.known)
        text += QStringLiteral("; as it was closed, DTR was %1 and RTS %2")
                    .arg(level(closing.dtr), level(closing.rts));
    text += QStringLiteral(".\n");
    if (open.rts)
        text += QStringLiteral("The device did not take the request to lower RTS.\n");
    if (open.dtr != dtrAsked)
        text += QStringLiteral("The device did not take the request to %1 DTR.\n")
                    .arg(dtrAsked ? QStringLiteral("raise") : QStringLiteral("lower"));
    return text;
}

int check(QTextStream& out, QTextStream& err) {
    const SerialControl::PortChoice choice = SerialControl::choiceFor(kPort);
    const QString path = choice.device;
    // A missing device is left to the opening, which tells what to do about it.
    if (QFileInfo::exists(path)) {
        if (const std::optional<QString> why = notSerial(path)) {
            err << "domivox-port: port 1 (" << path << ") is not a serial device: " << *why
                << "; it was not opened.\n"
                << (choice.source == SerialControl::PortSource::Variable
                        ? "Set DOMIVOX_COM1 to a serial device, or unset it.\n"
                        : "Choose port 1 with 'domivox-port set'.\n");
            err.flush();
            return kFailed;
        }
    }
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QSet<int> before = descriptorsOn(canonical);
    SerialControl comm;
    comm.setReportOpenFailures(false);
    try {
        // As the program opens it, so a success here means the program's opening works too.
        comm.setRThreshold(2);
        comm.setInputLen(7);
        comm.setSettings(QStringLiteral("2400,N,8,1"));
        comm.setDTREnable(true);
        comm.setCommPort(kPort);
        comm.setPortOpen(true);
    } catch (const platform::RuntimeError&) {
        err << "Port 1 (" << path << ") cannot be opened: " << comm.lastFailure() << ".\n"
            << SerialControl::adviceFor(comm.lastFailureKind()) << '\n';
        err.flush();
        return kFailed;
    }
    // A second descriptor on the same opening: it reads the lines without touching them, and
    // still can once the program's own is closed.
    const QSet<int> opened = descriptorsOn(canonical) - before;
    const int watch = opened.size() == 1 ? ::fcntl(*opened.begin(), F_DUPFD_CLOEXEC, 0) : -1;
    const ModemLines whileOpen = modemLinesOf(watch);
    comm.setPortOpen(false);
    const ModemLines closing = modemLinesOf(watch);
    if (watch >= 0)
        ::close(watch);
    out << "Port 1 (" << path << ") opens at 2400 baud 8N1; nothing was sent.\n"
        << linesReport(whileOpen, closing, comm.DTREnable());
    out.flush();
    return kOk;
}

// ttyUSB2 before ttyUSB10, whatever the locale's collation knows of numbers.
bool numberedBefore(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype from = i, bFrom = j;
            while (i < a.size() && a[i].isDigit())
                ++i;
            while (j < b.size() && b[j].isDigit())
                ++j;
            const QStringView x = QStringView(a).mid(from, i - from);
            const QStringView y = QStringView(b).mid(bFrom, j - bFrom);
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// What udev recorded about a device (its "E:KEY=value" lines), when udev runs; nothing without.
QHash<QString, QString> udevProperties(const QString& majorMinor) {
    QHash<QString, QString> found;
    if (majorMinor.isEmpty())
        return found;
    QFile f(udevDataRoot() + QStringLiteral("/c") + majorMinor);
    if (!f.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& line : f.read(65536).split('\n')) {
        if (!line.startsWith("E:"))
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq > 2)
            found.insert(QString::fromUtf8(line.mid(2, eq - 2)),
                         QString::fromUtf8(line.mid(eq + 1)));
    }
    return found;
}

// Lists the serial devices from what the kernel and udev publish, without opening any of them:
// opening a serial device raises its DTR and RTS lines, whatever hangs on them. Each tty in
// /sys/class/tty backed by a device counts; a built-in port the kernel found no chip for
// (type 0) is left out, and one whose type cannot be read is shown, since only opening it
// could tell.
QList<Device> systemScan() {
    QList<Device> found;
    const QDir ttys(sysfsRoot() + QStringLiteral("/class/tty"));
    const QStringList names = ttys.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : names) {
        const QString entry = ttys.filePath(name);
        const QFileInfo device(entry + QStringLiteral("/device"));
        if (!device.exists())
            continue;  // virtual consoles, pseudo-terminals, the console itself
        const QString driver = QFileInfo(entry + QStringLiteral("/device/driver")).symLinkTarget();
        const QString type = attribute(entry + QStringLiteral("/type"));
        if (type == QLatin1String("0"))
            continue;  // the kernel probed the port and found no chip behind it
        Device d;
        d.path = QStringLiteral("/dev/") + name;
        const QHash<QString, QString> udev =
            udevProperties(attribute(entry + QStringLiteral("/dev")));
        // The USB device the tty belongs to: the first folder above it with a vendor number.
        QString usb = device.canonicalFilePath();
        for (int up = 0; up < 4 && !usb.isEmpty() && usb != QLatin1String("/"); ++up) {
            if (QFileInfo::exists(usb + QStringLiteral("/idVendor")))
                break;
            usb = QFileInfo(usb).path();
        }
        if (!usb.isEmpty() && QFileInfo::exists(usb + QStringLiteral("/idVendor"))) {
            d.usbId = attribute(usb + QStringLiteral("/idVendor")) + QLatin1Char(':') +
                      attribute(usb + QStringLiteral("/idProduct"));
            d.manufacturer = attribute(usb + QStringLiteral("/manufacturer"));
            d.description = attribute(usb + QStringLiteral("/product"));
            d.serialNumber = attribute(usb + QStringLiteral("/serial"));
        } else if (udev.contains(QStringLiteral("ID_VENDOR_ID"))) {
            d.usbId = udev.value(QStringLiteral("ID_VENDOR_ID")) + QLatin1Char(':') +
                      udev.value(QStringLiteral("ID_MODEL_ID"));
        }
        if (d.manufacturer.isEmpty())
            d.manufacturer = udev.value(QStringLiteral("ID_VENDOR_FROM_DATABASE"),
                                        udev.value(QStringLiteral("ID_VENDOR")));
        if (d.description.isEmpty())
            d.description = udev.value(QStringLiteral("ID_MODEL_FROM_DATABASE"),
                                       udev.value(QStringLiteral("ID_MODEL")));
        if (d.serialNumber.isEmpty())
            d.serialNumber = udev.value(QStringLiteral("ID_SERIAL_SHORT"));
        if (d.description.isEmpty()) {
            const QString driverName = QFileInfo(driver).fileName();
            if (type.isEmpty() && driverName.startsWith(QLatin1String("serial8250")))
                d.description =
                    QStringLiteral("built-in port; whether a chip is behind it is unknown");
            else if (!driverName.isEmpty())
                d.description = driverName;
        }
        found.append(d);
    }
    return found;
}

Scan& scan() {
    static Scan s = systemScan;
    return s;
}

}  // namespace

void setSystemFoldersForTesting(const QString& sysfs, const QString& udevData) {
    sysfsRoot() = sysfs.isEmpty() ? QStringLiteral("/sys") : sysfs;
    udevDataRoot() = udevData.isEmpty() ? QStringLiteral("/run/udev/data") : udevData;
}

QList<Device> systemDevices() {
    return systemScan();
}

void setScanForTesting(Scan s) {
    scan() = s ? std::move(s) : Scan(systemScan);
}

QList<Device> devices() {
    QList<Device> found = scan()();
    for (Device& d : found) {
        const QString byId = SerialControl::byIdNameOf(d.path);
        if (byId != d.path)
            d.stableName = byId;
    }
    std::sort(found.begin(), found.end(),
              [](const Device& a, const Device& b) { return numberedBefore(a.path, b.path); });

    const QString port1 = SerialControl::choiceFor(kPort).device;
    const QString port1Target = QFileInfo(port1).canonicalFilePath();
    bool marked = false;
    for (Device& d : found) {
        d.isPort1 =
            d.path == port1 || d.stableName == port1 ||
            (!port1Target.isEmpty() && QFileInfo(d.path).canonicalFilePath() == port1Target);
        marked = marked || d.isPort1;
    }
    // A pseudo-terminal, a device that is unplugged, a name the scan does not know: still shown.
    if (!marked) {
        Device d;
        d.path = port1;
        d.isPort1 = true;
        found.append(d);
    }
    return found;
}

Access accessTo(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (::access(native.constData(), R_OK | W_OK) == 0)
        return {Access::Ok, QString()};
    const int why = errno;
    if (why == ENOENT || why == ENOTDIR)
        return {Access::Missing, QStringLiteral("no such device")};
    if (why != EACCES && why != EPERM)
        return {Access::Error, QString::fromLocal8Bit(std::strerror(why))};
    struct stat st {};
    const struct group* g = ::stat(native.constData(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
    const bool groupMayOpen = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (!g || !groupMayOpen)
        return {Access::Denied, QStringLiteral("permission denied; only its owner may open it")};
    const QString group = QString::fromLocal8Bit(g->gr_name);
    if (!inGroup(g->gr_gid) && listedInGroup(g))
        return {Access::Denied,
                QStringLiteral("permission denied; you are in the %1 group but have not logged "
                               "in again since you joined it: log out and in again")
                    .arg(group)};
    return {Access::Denied,
            QStringLiteral("permission denied; fix: sudo adduser \"$USER\" %1   then log out and "
                           "in again")
                .arg(group)};
}

namespace {

int dispatch(const QStringList& args, QTextStream& out, QTextStream& err) {
    bool plain = false;
    QStringList words;
    for (const QString& a : args) {
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            out << kHelp;
            out.flush();
            return kOk;
        }
        if (a == QLatin1String("--plain"))
            plain = true;
        else if (a.startsWith(QLatin1Char('-')) && a.size() > 1)
            return usageError(err, QStringLiteral("unknown option %1").arg(a));
        else
            words << a;
    }
    const QString command = words.value(0, QStringLiteral("list"));
    const qsizetype wanted = command == QLatin1String("set") ? 2 : 1;
    if (command != QLatin1String("list") && command != QLatin1String("set") &&
        command != QLatin1String("clear") && command != QLatin1String("check"))
        return usageError(err, QStringLiteral("unknown command %1").arg(command));
    if (words.size() > wanted)
        return usageError(err, QStringLiteral("too many arguments"));
    if (command == QLatin1String("set") && words.size() < 2)
        return usageError(err, QStringLiteral("set needs a device: a path, a by-id name or a "
                                              "number from the list"));
    if (plain && command != QLatin1String("list"))
        return usageError(err, QStringLiteral("--plain goes with the list only"));

    // With the variable set, port 1 does not come from the file: only what changes it needs it.
    const bool changes = command == QLatin1String("set") || command == QLatin1String("clear");
    const bool fromVariable =
        SerialControl::choiceFor(kPort).source == SerialControl::PortSource::Variable;
    if ((changes || !fromVariable) && !settingsReadable(err, fromVariable))
        return kFailed;
    if (command == QLatin1String("set"))
        return set(words.at(1), out, err);
    if (command == QLatin1String("clear"))
        return clear(out, err);
    if (command == QLatin1String("check"))
        return check(out, err);
    list(plain, out);
    return kOk;
}

}  // namespace

int run(const QStringList& args, QTextStream& out, QTextStream& err) {
    const int status = dispatch(args, out, err);
    out.flush();
    if (out.status() == QTextStream::Ok)
        return status;
    // A full disk or a closed pipe: a script reading the output must not take it as complete.
    const auto* file = qobject_cast<const QFileDevice*>(out.device());
    err << "domivox-port: the output could not be written"
        << (file ? QStringLiteral(": ") + file->errorString() : QString()) << '\n';
    err.flush();
    return status == kOk ? kFailed : status;
}

}  // namespace PortTool
