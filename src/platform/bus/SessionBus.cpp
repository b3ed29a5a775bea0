#include "platform/bus/SessionBus.h"

#include <unistd.h>

#include <QFileInfo>

namespace platform {

QString sessionBusAddress() {
    const QString set = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!set.isEmpty())
        return set;
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStringLiteral("/run/user/%1").arg(::getuid());
    return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
}

QDBusConnection connectSessionBus(const QString& name) {
    const QString address = sessionBusAddress();
    // libdbus would otherwise try to launch a bus of its own for an address it cannot reach.
    if (address.startsWith(QLatin1String("unix:path=")) && !address.contains(QLatin1Char(';')) &&
        !address.contains(QLatin1Char(',')) && !QFileInfo::exists(address.mid(10)))
        return QDBusConnection(name);
    return QDBusConnection::connectToBus(address, name);
}

}  // namespace platform
