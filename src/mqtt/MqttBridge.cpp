#include "mqtt/MqttBridge.h"

#include <QCoreApplication>
#include <QDebug>
#include <QPointer>
#include <QSysInfo>

#include "device/DeviceAccount.h"
#include "mqtt/MqttTopics.h"

namespace mqtt {

namespace {
constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 60000;

// A set switches its device as the device's button does, through the one account every sender
// shares; its letters and captions come back through the account's signals.
MqttBridge::Devices accountDevices() {
    MqttBridge::Devices d;
    d.switchDevice = [](int n, bool on) {
        return device::DeviceAccount::instance().switchDevice(n, on, device::Sender::Mqtt).reason;
    };
    d.caption = [](int n) { return device::DeviceAccount::instance().buttonCaption(n); };
    d.state = [](int n) -> std::optional<bool> {
        switch (device::DeviceAccount::instance().state(n)) {
            case device::DeviceState::On:
                return true;
            case device::DeviceState::Off:
                return false;
            case device::DeviceState::Unknown:
                break;
        }
        return std::nullopt;
    };
    return d;
}

}  // namespace

MqttBridge& MqttBridge::instance() {
    // Owned by the application, so its socket and timers go before the event loop does.
    // Forgets it when the application goes, so that a new application gets a new bridge.
    static QPointer<MqttBridge> bridge;
    if (!bridge) {
        bridge = new MqttBridge();
        bridge->setParent(QCoreApplication::instance());
        bridge->devices_ = accountDevices();
        device::DeviceAccount& account = device::DeviceAccount::instance();
        QObject::connect(&account, &device::DeviceAccount::letterSent, bridge,
                         &MqttBridge::letterSent);
        QObject::connect(&account, &device::DeviceAccount::captionsChanged, bridge,
                         &MqttBridge::captionsChanged);
    }
    return *bridge;
}

void MqttBridge::startIfWanted() {
    const MqttConfig stored = MqttConfig::load();
    MqttBridge& bridge = instance();
    if (stored.wantedAtStart() && !bridge.wanted_)
        bridge.connectTo(stored);
}

MqttBridge::MqttBridge() {
    status_ = QStringLiteral("Not connected");
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &MqttBridge::open);
    drain_.setSingleShot(true);
    drain_.setInterval(0);
    connect(&drain_, &QTimer::timeout, this, &MqttBridge::drainOne);
    connect(&client_, &platform::MqttClient::connected, this, &MqttBridge::onConnected);
    connect(&client_, &platform::MqttClient::disconnected, this, &MqttBridge::onDisconnected);
    connect(&client_, &platform::MqttClient::message, this, &MqttBridge::onMessage);
    // Connected for the user once sets are taken.
    connect(&client_, &platform::MqttClient::subscribed, this, [this] {
        setStatus(QStringLiteral("Connected to %1 as %2").arg(where(), config_.baseTopic));
    });
}

QString MqttBridge::where() const {
    // One pass: a '%' in the host must stay text.
    return QStringLiteral("%1:%2").arg(config_.host.trimmed(), QString::number(config_.port));
}

void MqttBridge::setStatus(const QString& text) {
    if (text == status_)
        return;
    status_ = text;
    Q_EMIT statusChanged(text);
}

void MqttBridge::connectTo(const MqttConfig& config) {
    if (client_.isConnected()) {
        // Entities announced under another base topic would stay behind, unavailable for ever.
        if (config_.discovery && nodeId(config.baseTopic) != nodeId(config_.baseTopic))
            for (int n = 1; n <= kDevices; ++n)
                client_.publish(discoveryTopic(config_.baseTopic, n), QByteArray(), true);
        client_.publish(statusTopic(config_.baseTopic), "offline", true);
    }
    wanted_ = false;  // the old connection's end is no reason to retry
    client_.close();
    config_ = config;
    if (!validBaseTopic(config_.baseTopic))
        config_.baseTopic = defaultBaseTopic();
    wanted_ = true;
    backoffMs_ = kFirstRetryMs;
    open();
}

void MqttBridge::disconnectFrom() {
    wanted_ = false;
    retry_.stop();
    queue_.clear();
    if (client_.isConnected())
        client_.publish(statusTopic(config_.baseTopic), "offline", true);
    client_.close();
    setStatus(QStringLiteral("Not connected"));
}

void MqttBridge::open() {
    if (!wanted_)
        return;
    platform::MqttOptions o;
    o.host = config_.host.trimmed();
    o.port = config_.port;
    o.tls = config_.tls;
    o.caFile = config_.caFile;
    o.user = config_.user;
    o.password = config_.password;
    o.clientId = QStringLiteral("domivox-") + nodeId(config_.baseTopic);
    o.willTopic = statusTopic(config_.baseTopic);
    o.willPayload = "offline";
    setStatus(QStringLiteral("Connecting to %1").arg(where()));
    client_.open(o);
}

void MqttBridge::onConnected() {
    backoffMs_ = kFirstRetryMs;
    const QString& base = config_.baseTopic;
    client_.subscribe(setFilter(base));
    client_.publish(statusTopic(base), "online", true);
    for (int n = 1; n <= kDevices; ++n)
        publishDevice(n);
    publishDiscovery();
}

void MqttBridge::onDisconnected(platform::MqttClient::Failure failure, const QString& said) {
    using Failure = platform::MqttClient::Failure;
    // The library's sentences end in a full stop; ours go on after them.
    QString reason = said;
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    if (!wanted_)
        return;
    switch (failure) {
        case Failure::None:
        case Failure::Unreachable:
            break;
        case Failure::Refused:
            wanted_ = false;
            setStatus(QStringLiteral("The broker at %1 refused the login: %2. Check the user name "
                                     "and password, then press Connect.")
                          .arg(where(), reason));
            return;
        case Failure::Certificate:
            wanted_ = false;
            setStatus(
                QStringLiteral("The broker's certificate at %1 was not accepted: %2. Check the "
                               "host name and the CA file, then press Connect.")
                    .arg(where(), reason));
            return;
        case Failure::Settings:
            wanted_ = false;
            setStatus(QStringLiteral("Cannot connect: %1.").arg(reason));
            return;
    }
    const QString why = reason.isEmpty() ? QStringLiteral("connection lost") : reason;
    setStatus(QStringLiteral("No connection to %1 (%2); trying again in %3 s")
                  .arg(where(), why, QString::number(backoffMs_ / 1000)));
    retry_.start(backoffMs_);
    backoffMs_ = std::min(backoffMs_ * 2, kLastRetryMs);
}

void MqttBridge::onMessage(const QString& topic, const QByteArray& payload, qint64 oversized) {
    const std::optional<int> device = deviceOfSetTopic(config_.baseTopic, topic);
    if (!device)
        return ignore(topic, QStringLiteral("not a device's set topic"));
    if (oversized > 0)
        return ignore(topic, QStringLiteral("a payload of %1 bytes").arg(oversized));
    const std::optional<bool> on = parseSwitchPayload(payload);
    if (!on)
        return ignore(topic, QStringLiteral("a payload that is neither ON nor OFF"));
    if (int(queue_.size()) >= kQueueLimit)
        queue_.pop_front();  // the newest wishes win
    queue_.emplace_back(*device, *on);
    if (!draining_)
        drain_.start();
}

void MqttBridge::ignore(const QString& topic, const QString& why) {
    // Told once a run: a broker flooding the topic must not flood the log.
    if (toldIgnored_)
        return;
    toldIgnored_ = true;
    qWarning().noquote() << "MQTT: ignored" << why << "on" << topic
                         << "(further ignored messages are not reported)";
}

void MqttBridge::drainOne() {
    if (draining_ || queue_.empty())
        return;
    const auto [device, on] = queue_.front();
    queue_.pop_front();
    draining_ = true;
    // May run a nested event loop, in which more sets arrive and are only queued.
    const QString failure = devices_.switchDevice ? devices_.switchDevice(device, on) : QString();
    draining_ = false;
    if (!failure.isEmpty())
        qWarning().noquote() << "MQTT: device" << device << "was not switched:" << failure;
    if (!queue_.empty())
        drain_.start();
}

void MqttBridge::letterSent(int device, bool on) {
    client_.publish(stateTopic(config_.baseTopic, device), on ? "ON" : "OFF", true);
}

void MqttBridge::captionsChanged() {
    if (!client_.isConnected())
        return;
    for (int n = 1; n <= kDevices; ++n)
        client_.publish(nameTopic(config_.baseTopic, n),
                        (devices_.caption ? devices_.caption(n) : QString()).toUtf8(), true);
    publishDiscovery();
}

void MqttBridge::publishDevice(int device) {
    const QString& base = config_.baseTopic;
    if (devices_.state)
        if (const std::optional<bool> on = devices_.state(device))
            client_.publish(stateTopic(base, device), *on ? "ON" : "OFF", true);
    client_.publish(nameTopic(base, device),
                    (devices_.caption ? devices_.caption(device) : QString()).toUtf8(), true);
}

void MqttBridge::publishDiscovery() {
    const QString& base = config_.baseTopic;
    for (int n = 1; n <= kDevices; ++n) {
        // An empty retained message is how a broker forgets one: the entity goes away.
        const QByteArray config =
            config_.discovery
                ? discoveryConfig(base, n, devices_.caption ? devices_.caption(n) : QString())
                : QByteArray();
        client_.publish(discoveryTopic(base, n), config, true);
    }
}

}  // namespace mqtt
