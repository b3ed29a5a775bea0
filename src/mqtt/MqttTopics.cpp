#include "mqtt/MqttTopics.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

namespace mqtt {

namespace {

bool idChar(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_') ||
           c == QLatin1Char('-');
}

QString deviceTopic(const QString& base, int device, const char* leaf) {
    // One pass of arg(): a chain would read a "%1" inside the base topic as a place to fill.
    return QStringLiteral("%1/%2/%3").arg(base, QString::number(device), QLatin1String(leaf));
}

}  // namespace

QString defaultBaseTopic() {
    QString host = QSysInfo::machineHostName();
    for (QChar& c : host)
        if (!idChar(c))
            c = QLatin1Char('_');
    if (host.isEmpty())
        host = QStringLiteral("panel");
    return QStringLiteral("domivox/") + host;
}

bool validBaseTopic(const QString& base) {
    if (base.isEmpty() || base.toUtf8().size() > 200)
        return false;
    if (base.startsWith(QLatin1Char('$')))
        return false;
    for (const QString& level : base.split(QLatin1Char('/')))
        if (level.isEmpty() || level.contains(QLatin1Char('+')) ||
            level.contains(QLatin1Char('#')) || level.contains(QChar(0)))
            return false;
    return true;
}

QString nodeId(const QString& base) {
    QString id = base;
    for (QChar& c : id)
        if (!idChar(c))
            c = QLatin1Char('_');
    return id;
}

QString stateTopic(const QString& base, int device) {
    return deviceTopic(base, device, "state");
}
QString setTopic(const QString& base, int device) {
    return deviceTopic(base, device, "set");
}
QString nameTopic(const QString& base, int device) {
    return deviceTopic(base, device, "name");
}
QString statusTopic(const QString& base) {
    return base + QStringLiteral("/status");
}
QString setFilter(const QString& base) {
    return base + QStringLiteral("/+/set");
}
QString discoveryTopic(const QString& base, int device) {
    return QStringLiteral("homeassistant/switch/%1/%2/config")
        .arg(nodeId(base), QString::number(device));
}

std::optional<int> deviceOfSetTopic(const QString& base, const QString& topic) {
    // "<base>/" + one digit + "/set": the length alone rules out "01", "10" and the rest.
    const qsizetype prefix = base.size() + 1;
    if (topic.size() != prefix + 5 || !topic.startsWith(base) || topic.at(base.size()) != '/' ||
        !topic.endsWith(QLatin1String("/set")))
        return std::nullopt;
    const QChar digit = topic.at(prefix);
    if (digit < QLatin1Char('1') || digit > QLatin1Char('0' + kDevices))
        return std::nullopt;
    return digit.unicode() - '0';
}

std::optional<bool> parseSwitchPayload(const QByteArray& payload) {
    if (payload.compare("ON", Qt::CaseInsensitive) == 0)
        return true;
    if (payload.compare("OFF", Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

QByteArray discoveryConfig(const QString& base, int device, const QString& caption) {
    const QString node = nodeId(base);
    QJsonObject panel{
        {QStringLiteral("identifiers"), QJsonArray{node}},
        {QStringLiteral("name"), QStringLiteral("Domivox ") + base.section(QLatin1Char('/'), -1)},
        {QStringLiteral("manufacturer"), QStringLiteral("Domivox")},
        {QStringLiteral("model"), QStringLiteral("Control panel")},
        {QStringLiteral("sw_version"), QStringLiteral("%1.%2.%3")
                                           .arg(DOMIVOX_VERSION_MAJOR)
                                           .arg(DOMIVOX_VERSION_MINOR)
                                           .arg(DOMIVOX_VERSION_PATCH)},
    };
    QJsonObject config{
        {QStringLiteral("name"),
         caption.isEmpty() ? QStringLiteral("Device %1").arg(device) : caption},
        {QStringLiteral("unique_id"), QStringLiteral("%1_%2").arg(node, QString::number(device))},
        {QStringLiteral("command_topic"), setTopic(base, device)},
        {QStringLiteral("state_topic"), stateTopic(base, device)},
        {QStringLiteral("payload_on"), QStringLiteral("ON")},
        {QStringLiteral("payload_off"), QStringLiteral("OFF")},
        {QStringLiteral("availability_topic"), statusTopic(base)},
        {QStringLiteral("payload_available"), QStringLiteral("online")},
        {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
        // Nothing is read back from the board: the state is what was last sent.
        {QStringLiteral("optimistic"), true},
        {QStringLiteral("qos"), 1},
        {QStringLiteral("device"), panel},
    };
    return QJsonDocument(config).toJson(QJsonDocument::Compact);
}

}  // namespace mqtt
