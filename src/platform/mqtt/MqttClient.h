#pragma once

#include <memory>

#include <QByteArray>
#include <QObject>
#include <QString>

namespace platform {

// Where and how to reach a broker. The password lives here and in the library only: nothing
// that reports on a connection (status text, logs) ever quotes it.
struct MqttOptions {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;  // with tls: empty trusts the system's certificate authorities
    QString user;
    QString password;
    QString clientId;
    int keepaliveSeconds = 30;
    QString willTopic;  // sent by the broker with willPayload, retained, when we vanish
    QByteArray willPayload;
};

// One MQTT connection driven from the window-event thread: the library's socket is watched by
// socket notifiers and its housekeeping runs on a timer as often as the keepalive needs, so an
// idle connection costs a wake-up every few seconds and nothing ever blocks a window. Everything
// is sent with QoS 1.
class MqttClient : public QObject {
    Q_OBJECT
public:
    // Why a connection ended or never came about.
    enum class Failure {
        None,
        Unreachable,  // no answer, refused, dropped, name unknown: worth trying again
        Refused,      // the broker turned the login down: trying again changes nothing
        Certificate,  // the TLS handshake failed: the same
        Settings,     // the options themselves are unusable (CA file unreadable, no host)
    };

    explicit MqttClient(QObject* parent = nullptr);
    ~MqttClient() override;

    // Starts connecting and returns at once; connected() or disconnected() tells the outcome.
    void open(const MqttOptions& options);
    // Leaves cleanly (no last will); disconnected() follows with Failure::None.
    void close();
    bool isConnected() const;

    // False when the message could not even be queued (not connected).
    bool publish(const QString& topic, const QByteArray& payload, bool retain);
    bool subscribe(const QString& filter);

Q_SIGNALS:
    void connected();
    // The broker confirmed a subscription: messages on it come from now on.
    void subscribed();
    void disconnected(platform::MqttClient::Failure failure, const QString& reason);
    // The payload is only valid during the call when it exceeds maxPayload: it is then empty and
    // oversized is its real length, so a flood of large messages is never copied.
    void message(const QString& topic, const QByteArray& payload, qint64 oversized);

public:
    // Payloads above this are handed on empty, with their size.
    static constexpr qint64 kMaxPayload = 4096;

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

}  // namespace platform
