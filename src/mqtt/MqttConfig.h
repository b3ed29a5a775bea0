#pragma once

#include <QString>

namespace mqtt {

// The broker settings, kept in a section of their own in the settings file.
struct MqttConfig {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;  // empty with TLS: the system's certificate authorities
    QString user;
    QString password;
    QString baseTopic;
    bool discovery = true;
    // The user's last choice between Connect and Disconnect: a panel that was connected
    // connects again at start-up.
    bool connectAtStart = false;

    static MqttConfig load();
    void save() const;
    // Whether start-up should connect: a host is set and the user last pressed Connect.
    bool wantedAtStart() const { return connectAtStart && !host.trimmed().isEmpty(); }
};

// The section's key path.
QString mqttKeyPath();

}  // namespace mqtt
