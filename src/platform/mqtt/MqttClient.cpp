#include "platform/mqtt/MqttClient.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

namespace platform {

namespace {

void initLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        mosquitto_lib_init();
        // OpenSSL writes to the socket with write(): a broker that drops a TLS connection would
        // end the whole panel with SIGPIPE. A failed write is reported as such instead.
        std::signal(SIGPIPE, SIG_IGN);
    });
}

QString libraryText(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

}  // namespace

struct MqttClient::Impl {
    MqttClient* q;
    MqttOptions options;
    mosquitto* mosq = nullptr;
    int socket = -1;
    QSocketNotifier* reader = nullptr;
    QSocketNotifier* writer = nullptr;
    QTimer misc;          // keepalive housekeeping, only while a socket is open
    QTimer connectTimer;  // a broker that never answers the connection
    int lookupId = -1;
    // The broker's addresses as looked up, tried in turn until one answers: a name often has
    // an IPv6 address first that the broker does not listen on.
    QList<QHostAddress> addresses;
    bool connected = false;
    bool answered = false;  // this connection had a CONNACK
    // Counts teardowns, so that a report the library made about a connection already gone
    // cannot end the next one.
    int generation = 0;
    bool reported = false;  // this connection's end has been told
    // Set by a refused CONNACK, which the library follows with a plain disconnect.
    Failure refusal = Failure::None;
    QString refusalText;
    QString lastError;  // the library's last error line: names a certificate problem

    explicit Impl(MqttClient* owner) : q(owner) {
        misc.setParent(owner);
        connectTimer.setParent(owner);
        connectTimer.setSingleShot(true);
        QObject::connect(&misc, &QTimer::timeout, owner, [this] {
            if (mosq)
                after(mosquitto_loop_misc(mosq));
        });
        QObject::connect(&connectTimer, &QTimer::timeout, owner, [this] {
            if (!connected)
                fail(Failure::Unreachable, QStringLiteral("the broker did not answer"));
        });
    }

    ~Impl() { destroy(); }

    void destroy() {
        ++generation;
        if (lookupId >= 0)
            QHostInfo::abortHostLookup(lookupId);
        lookupId = -1;
        dropNotifiers();
        misc.stop();
        connectTimer.stop();
        if (mosq)
            mosquitto_destroy(mosq);
        mosq = nullptr;
        connected = false;
    }

    void dropNotifiers() {
        delete reader;
        delete writer;
        reader = writer = nullptr;
        socket = -1;
    }

    // Follows the library's socket after every call into it: a new one after a connect, none
    // after a drop, and write interest exactly while something waits to go out.
    void sync() {
        const int s = mosq ? mosquitto_socket(mosq) : -1;
        if (s != socket) {
            dropNotifiers();
            if (s >= 0) {
                socket = s;
                reader = new QSocketNotifier(s, QSocketNotifier::Read, q);
                writer = new QSocketNotifier(s, QSocketNotifier::Write, q);
                QObject::connect(reader, &QSocketNotifier::activated, q, [this] {
                    if (!mosq)
                        return;
                    quickAck();
                    after(mosquitto_loop_read(mosq, 1));
                });
                QObject::connect(writer, &QSocketNotifier::activated, q, [this] {
                    if (mosq)
                        after(mosquitto_loop_write(mosq, 1));
                });
                const int keepalive = std::max(4, options.keepaliveSeconds);
                misc.start(keepalive * 1000 / 4);
            } else {
                misc.stop();
            }
        }
        if (writer)
            writer->setEnabled(mosquitto_want_write(mosq));
    }

    // A failed TLS handshake closes the socket without the library's disconnect report.
    // What the broker sends is acknowledged at once. A delayed acknowledgement holds back the
    // broker's next message behind Nagle's algorithm (Mosquitto's default) for up to 40 ms: the
    // broker's PUBACK for a state is often the last thing it sent before a set. The kernel
    // leaves quick-ack mode on its own, so it is asked again before every read.
    void quickAck() {
        const int one = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }

    void after(int rc) {
        if (!mosq)
            return;
        if (rc != MOSQ_ERR_SUCCESS && mosquitto_socket(mosq) < 0)
            report(rc);
        sync();
    }

    void report(int rc);

    void fail(Failure failure, const QString& reason) {
        if (failure == Failure::Unreachable && !answered && !addresses.isEmpty() && tryNext())
            return;
        destroy();
        Q_EMIT q->disconnected(failure, reason);
    }

    // The next looked-up address, on a connection made anew; false when none is left or the
    // settings no longer take.
    bool tryNext() {
        const QHostAddress address = addresses.takeFirst();
        destroy();
        reported = false;
        lastError.clear();
        QString why;
        if (!configure(options, &why))
            return false;
        start(address);
        return true;
    }

    bool configure(const MqttOptions& o, QString* why);
    void start(const QHostAddress& address);
};

namespace {

void onConnect(mosquitto*, void* obj, int rc) {
    auto* d = static_cast<MqttClient::Impl*>(obj);
    d->connectTimer.stop();
    d->answered = true;
    if (rc == 0) {
        d->connected = true;
        Q_EMIT d->q->connected();
        return;
    }
    // A refused login is final for these settings; an unavailable server may come back.
    d->refusal = rc == 3 ? MqttClient::Failure::Unreachable : MqttClient::Failure::Refused;
    d->refusalText = QString::fromUtf8(mosquitto_connack_string(rc));
}

void onDisconnect(mosquitto*, void* obj, int rc) {
    static_cast<MqttClient::Impl*>(obj)->report(rc);
}

}  // namespace

void MqttClient::Impl::report(int rc) {
    Impl* d = this;
    if (d->reported)
        return;
    d->reported = true;
    const int savedErrno = errno;
    d->connected = false;
    MqttClient::Failure failure = MqttClient::Failure::Unreachable;
    QString reason;
    if (d->refusal != MqttClient::Failure::None) {
        failure = d->refusal;
        reason = d->refusalText;
    } else if (rc == MOSQ_ERR_SUCCESS) {
        failure = MqttClient::Failure::None;
    } else if (rc == MOSQ_ERR_TLS && !d->lastError.isEmpty()) {
        // Without OpenSSL's own words the handshake never began: the connection itself failed
        // (nothing listens at that address), which another address or a later try may mend.
        failure = MqttClient::Failure::Certificate;
        // OpenSSL's words come last, after its codes: "error:0A000086:SSL routines::certificate
        // verify failed".
        reason = d->lastError.section(QLatin1String("::"), -1).trimmed();
        if (reason.isEmpty())
            reason = QStringLiteral("the TLS handshake failed");
    } else {
        errno = savedErrno;
        reason = libraryText(rc);
    }
    // The library is still inside its own call: tear down once it has returned.
    QTimer::singleShot(0, d->q, [d, failure, reason, generation = d->generation] {
        if (d->generation == generation)
            d->fail(failure, reason);
    });
}

namespace {

void onMessage(mosquitto*, void* obj, const mosquitto_message* m) {
    auto* d = static_cast<MqttClient::Impl*>(obj);
    const QString topic = QString::fromUtf8(m->topic ? m->topic : "");
    if (m->payloadlen > MqttClient::kMaxPayload) {
        Q_EMIT d->q->message(topic, QByteArray(), m->payloadlen);
        return;
    }
    const QByteArray payload(static_cast<const char*>(m->payload), m->payloadlen);
    Q_EMIT d->q->message(topic, payload, 0);
}

void onSubscribe(mosquitto*, void* obj, int, int, const int*) {
    Q_EMIT static_cast<MqttClient::Impl*>(obj)->q->subscribed();
}

void onLog(mosquitto*, void* obj, int level, const char* text) {
    auto* d = static_cast<MqttClient::Impl*>(obj);
    if (level == MOSQ_LOG_ERR && text)
        d->lastError = QString::fromUtf8(text);
}

}  // namespace

bool MqttClient::Impl::configure(const MqttOptions& o, QString* why) {
    initLibraryOnce();
    const QByteArray id = o.clientId.toUtf8();
    mosq = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, this);
    if (!mosq) {
        *why = QStringLiteral("out of memory");
        return false;
    }
    mosquitto_connect_callback_set(mosq, onConnect);
    mosquitto_disconnect_callback_set(mosq, onDisconnect);
    mosquitto_message_callback_set(mosq, onMessage);
    mosquitto_subscribe_callback_set(mosq, onSubscribe);
    // Each acknowledgement goes out at once: held back for the broker's delayed ACK, it held
    // back the broker's next message for 40 ms in turn.
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_log_callback_set(mosq, onLog);
    if (!o.user.isEmpty()) {
        const QByteArray user = o.user.toUtf8();
        const QByteArray password = o.password.toUtf8();
        mosquitto_username_pw_set(mosq, user.constData(),
                                  o.password.isEmpty() ? nullptr : password.constData());
    }
    if (!o.willTopic.isEmpty()) {
        const QByteArray topic = o.willTopic.toUtf8();
        mosquitto_will_set(mosq, topic.constData(), int(o.willPayload.size()),
                           o.willPayload.constData(), 1, true);
    }
    if (o.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (o.caFile.isEmpty()) {
            mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            const QByteArray ca = QFile::encodeName(o.caFile);
            if (!QFileInfo(o.caFile).isReadable()) {
                *why = QStringLiteral("the CA file %1 cannot be read").arg(o.caFile);
                return false;
            }
            rc = mosquitto_tls_set(mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            *why = QStringLiteral("TLS cannot be set up: %1").arg(libraryText(rc));
            return false;
        }
    }
    return true;
}

void MqttClient::Impl::start(const QHostAddress& address) {
    // The name for TLS, whose certificate check needs it; the address looked up already
    // otherwise, so the library's own lookup never holds up the window. Binding to the
    // address's own family's "any" makes the library skip the name's addresses of the other
    // family, so the one chosen here is the one it connects to.
    const QByteArray host = (options.tls ? options.host.trimmed() : address.toString()).toUtf8();
    const char* family = address.protocol() == QAbstractSocket::IPv6Protocol ? "::" : "0.0.0.0";
    const int keepalive = std::max(4, options.keepaliveSeconds);
    const int rc =
        mosquitto_connect_bind_async(mosq, host.constData(), options.port, keepalive, family);
    if (rc != MOSQ_ERR_SUCCESS) {
        report(rc);
        return;
    }
    connectTimer.start(keepalive * 1000);
    sync();
}

MqttClient::MqttClient(QObject* parent) : QObject(parent), d_(std::make_unique<Impl>(this)) {}

MqttClient::~MqttClient() {
    d_->destroy();
}

void MqttClient::open(const MqttOptions& options) {
    d_->destroy();
    d_->options = options;
    d_->refusal = Failure::None;
    d_->reported = false;
    d_->answered = false;
    d_->addresses.clear();
    d_->lastError.clear();
    if (options.host.trimmed().isEmpty()) {
        d_->fail(Failure::Settings, QStringLiteral("no broker host is set"));
        return;
    }
    QString why;
    if (!d_->configure(options, &why)) {
        d_->fail(Failure::Settings, why);
        return;
    }
    QHostAddress literal;
    if (literal.setAddress(options.host.trimmed())) {
        d_->start(literal);
        return;
    }
    d_->lookupId = QHostInfo::lookupHost(options.host.trimmed(), this, [this](const QHostInfo& h) {
        d_->lookupId = -1;
        if (h.error() != QHostInfo::NoError || h.addresses().isEmpty()) {
            d_->fail(Failure::Unreachable, h.errorString());
            return;
        }
        d_->addresses = h.addresses();
        d_->start(d_->addresses.takeFirst());
    });
}

void MqttClient::close() {
    // A clean goodbye goes out at once when the socket takes it; the library's own report of
    // it is left behind by the teardown below.
    if (d_->mosq && d_->connected)
        mosquitto_disconnect(d_->mosq);
    const bool wasOpen = d_->mosq != nullptr || d_->lookupId >= 0;
    d_->destroy();
    if (wasOpen)
        Q_EMIT disconnected(Failure::None, QString());
}

bool MqttClient::isConnected() const {
    return d_->connected;
}

bool MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain) {
    if (!d_->connected)
        return false;
    const QByteArray t = topic.toUtf8();
    const int rc = mosquitto_publish(d_->mosq, nullptr, t.constData(), int(payload.size()),
                                     payload.constData(), 1, retain);
    d_->sync();
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString& filter) {
    if (!d_->connected)
        return false;
    const QByteArray f = filter.toUtf8();
    const int rc = mosquitto_subscribe(d_->mosq, nullptr, f.constData(), 1);
    d_->sync();
    return rc == MOSQ_ERR_SUCCESS;
}

}  // namespace platform
