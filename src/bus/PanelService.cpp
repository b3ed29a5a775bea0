#include "bus/PanelService.h"

#include <QDBusConnectionInterface>
#include <QTimer>

#include "device/MainPanel.h"
#include "platform/bus/SessionBus.h"
#include "platform/ui/Window.h"

using device::DeviceAccount;
using device::SwitchResult;

namespace bus {
namespace {

QString errorName(SwitchResult::Failure failure) {
    switch (failure) {
        case SwitchResult::Failure::NoSuchDevice:
            return QStringLiteral("org.example.domivox.Error.NoSuchDevice");
        case SwitchResult::Failure::NoPort:
            return QStringLiteral("org.example.domivox.Error.NoPort");
        case SwitchResult::Failure::WriteFailed:
        case SwitchResult::Failure::None:
            break;
    }
    return QStringLiteral("org.example.domivox.Error.WriteFailed");
}

constexpr int kApplySpacingMs = 250;

}  // namespace

PanelService::Start PanelService::start(QObject* owner) {
    QDBusConnection bus = platform::connectSessionBus(QStringLiteral("domivox-panel"));
    if (!bus.isConnected())
        return Start::NoBus;
    auto* service = new PanelService(bus, owner);
    if (!bus.registerObject(
            QString::fromLatin1(kPath), service,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)) {
        delete service;
        return Start::NoBus;
    }
    const auto reply = bus.interface()->registerService(
        QString::fromLatin1(kService), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Start::Serving;
    bus.unregisterObject(QString::fromLatin1(kPath));
    delete service;
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(kService)))
        return Start::NoBus;  // refused for another reason (policy): run without the service
    bus.call(
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kInterface), QStringLiteral("Raise")));
    return Start::AnotherPanelRaised;
}

PanelService::PanelService(const QDBusConnection& connection, QObject* parent)
    : QObject(parent), connection_(connection) {
    DeviceAccount& account = DeviceAccount::instance();
    connect(&account, &DeviceAccount::stateChanged, this, [this] { announce("States", States()); });
    connect(&account, &DeviceAccount::captionsChanged, this,
            [this] { announce("Captions", Captions()); });
}

QStringList PanelService::States() const {
    QStringList states;
    for (int n = 1; n <= device::DeviceCommand::kDevices; ++n)
        states << device::toString(DeviceAccount::instance().state(n));
    return states;
}

QStringList PanelService::Captions() const {
    QStringList captions;
    for (int n = 1; n <= 2 * device::DeviceCommand::kDevices; ++n)
        captions << DeviceAccount::instance().buttonCaption(n);
    return captions;
}

QString PanelService::Port() const {
    return DeviceAccount::instance().portDevice();
}

void PanelService::Switch(int device, bool on) {
    setDelayedReply(true);
    QTimer::singleShot(0, this, [this, call = message(), device, on] {
        const SwitchResult r =
            DeviceAccount::instance().switchDevice(device, on, device::Sender::Bus);
        connection_.send(r.sent() ? call.createReply()
                                  : call.createErrorReply(errorName(r.failure), r.reason));
    });
}

void PanelService::Apply(const QString& pattern) {
    if (pattern.size() != device::DeviceCommand::kDevices) {
        sendErrorReply(QStringLiteral("org.example.domivox.Error.BadPattern"),
                       QStringLiteral("A pattern has five characters, device 1 first: 1 switches "
                                      "a device on, 0 off, anything else leaves it (\"%1\" has "
                                      "%2).")
                           .arg(pattern)
                           .arg(pattern.size()));
        return;
    }
    setDelayedReply(true);
    QTimer::singleShot(0, this, [this, call = message(), pattern] { applyFrom(call, pattern, 1); });
}

// Sends the next device's letter, then waits the quarter second before the one after; the answer
// goes out once the pattern is through, or at the first letter that could not be sent (the
// devices before it stay switched, those after it are left).
void PanelService::applyFrom(QDBusMessage call, QString pattern, int device) {
    for (; device <= device::DeviceCommand::kDevices; ++device) {
        const QChar c = pattern.at(device - 1);
        if (c != QLatin1Char('1') && c != QLatin1Char('0'))
            continue;
        const SwitchResult r = DeviceAccount::instance().switchDevice(device, c == QLatin1Char('1'),
                                                                      device::Sender::Bus);
        if (!r.sent()) {
            connection_.send(call.createErrorReply(errorName(r.failure), r.reason));
            return;
        }
        QTimer::singleShot(kApplySpacingMs, this,
                           [this, call, pattern, device] { applyFrom(call, pattern, device + 1); });
        return;
    }
    connection_.send(call.createReply());
}

void PanelService::Raise() {
    device::showMainPanel();
    if (device::MainPanel* main = device::findMainPanel()) {
        main->window().raise();
        main->window().activateWindow();
    }
}

void PanelService::announce(const char* property, const QVariant& value) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kInterface) << QVariantMap{{QString::fromLatin1(property), value}}
           << QStringList();
    connection_.send(signal);
}

}  // namespace bus
