#pragma once

#include <optional>

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

// A Mosquitto broker of the test's own on a free port of 127.0.0.1, configured by a file the
// test writes; `extra` lines are added to its listener (a password file, certificates).
class MosquittoBroker {
public:
    explicit MosquittoBroker(const QString& extra = QString());
    ~MosquittoBroker();

    bool start();     // waits until it accepts connections
    void kill();      // as a crash does: no goodbye to anyone
    bool restart() {  // on the same port
        kill();
        return start();
    }
    int port() const { return port_; }
    QString dir() const { return dir_.path(); }
    // Its log so far (connections, refusals).
    QString log() const;

    // mosquitto_pub with these arguments against this broker; true when it exited 0.
    bool publish(const QString& topic, const QByteArray& payload, bool retain = false) const;
    bool publishLines(const QString& topic, const QByteArray& lines) const;
    // The retained message of a topic, or nothing when none is kept.
    std::optional<QByteArray> retained(const QString& topic) const;

private:
    QTemporaryDir dir_;
    QString extra_;
    int port_ = 0;
    QProcess process_;
};

// mosquitto_sub -v on a filter: every message it sees, in order.
class Subscriber {
public:
    Subscriber(const MosquittoBroker& broker, const QString& filter);
    ~Subscriber();
    // The payloads seen on one topic, oldest first.
    QList<QByteArray> payloads(const QString& topic);
    bool ready() const { return ready_; }

private:
    void read();
    QProcess process_;
    QByteArray buffer_;
    QList<QPair<QString, QByteArray>> seen_;
    bool ready_ = false;
};

}  // namespace testsupport
