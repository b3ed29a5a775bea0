#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <utility>

#include <QObject>
#include <QString>
#include <QTimer>

#include "mqtt/MqttConfig.h"
#include "platform/mqtt/MqttClient.h"

namespace mqtt {

// The panel on a broker: each letter that goes out is published as its device's state, and a
// set message switches its device as the device's button does. One bridge per run; it keeps
// connecting (backing off from 1 s to 60 s) until the user disconnects or the broker refuses
// the login or the certificate, which no retry can mend.
class MqttBridge : public QObject {
    Q_OBJECT
public:
    // How the bridge reaches the devices: switch one (the failure in words, empty when the
    // letter went out), the caption of an ON button, what a device was last told.
    struct Devices {
        std::function<QString(int, bool)> switchDevice;
        std::function<QString(int)> caption;
        std::function<std::optional<bool>(int)> state;
    };

    static MqttBridge& instance();
    // Start-up: connects when the stored settings say the user left it connected.
    static void startIfWanted();

    void setDevices(Devices devices) { devices_ = std::move(devices); }

    void connectTo(const MqttConfig& config);
    void disconnectFrom();

    bool isConnected() const { return client_.isConnected(); }
    QString statusText() const { return status_; }
    const MqttConfig& config() const { return config_; }
    int queuedSets() const { return int(queue_.size()); }
    int reconnectDelayMs() const { return backoffMs_; }

    // Whoever sends a letter tells the bridge, and a caption change republishes the names.
    void letterSent(int device, bool on);
    void captionsChanged();

    // At 2400 baud a letter takes 4.17 ms: a longer queue only delays what was asked last.
    static constexpr int kQueueLimit = 32;

Q_SIGNALS:
    void statusChanged(const QString& text);

private:
    MqttBridge();
    void setStatus(const QString& text);
    void open();
    void onConnected();
    void onDisconnected(platform::MqttClient::Failure failure, const QString& reason);
    void onMessage(const QString& topic, const QByteArray& payload, qint64 oversized);
    void ignore(const QString& topic, const QString& why);
    void drainOne();
    void publishDevice(int device);
    void publishDiscovery();
    QString where() const;

    platform::MqttClient client_;
    Devices devices_;
    MqttConfig config_;
    bool wanted_ = false;
    QString status_;
    QTimer retry_;
    int backoffMs_ = 1000;
    QTimer drain_;
    bool draining_ = false;
    std::deque<std::pair<int, bool>> queue_;
    bool toldIgnored_ = false;
};

}  // namespace mqtt
