#include "mqtt/MqttConfig.h"

#include "mqtt/MqttTopics.h"
#include "store/Module1.h"

namespace mqtt {

namespace {

QString read(const char* name) {
    return Module1::ReadSetting(Module1::HKEY_CURRENT_USER, mqttKeyPath(),
                                QString::fromLatin1(name));
}

void write(const char* name, const QString& value) {
    Module1::WriteSetting(Module1::HKEY_CURRENT_USER, mqttKeyPath(), QString::fromLatin1(name),
                          value);
}

QString flag(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

}  // namespace

QString mqttKeyPath() {
    return QStringLiteral("Software\\VAZ\\MQTT");
}

MqttConfig MqttConfig::load() {
    MqttConfig c;
    c.host = read("host");
    bool ok = false;
    const int port = read("port").toInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        c.port = port;
    c.tls = read("tls") == QLatin1String("1");
    c.caFile = read("cafile");
    c.user = read("user");
    c.password = read("password");
    c.baseTopic = read("base");
    if (!validBaseTopic(c.baseTopic))
        c.baseTopic = defaultBaseTopic();
    // Missing means never turned off.
    c.discovery = read("discovery") != QLatin1String("0");
    c.connectAtStart = read("connect") == QLatin1String("1");
    if (c.tls && c.port == 1883 && read("port").isEmpty())
        c.port = 8883;
    return c;
}

void MqttConfig::save() const {
    write("host", host);
    write("port", QString::number(port));
    write("tls", flag(tls));
    write("cafile", caFile);
    write("user", user);
    write("password", password);
    write("base", baseTopic);
    write("discovery", flag(discovery));
    write("connect", flag(connectAtStart));
}

}  // namespace mqtt
