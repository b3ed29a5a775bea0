#include "MosquittoBroker.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

#include "TestSupport.h"

namespace testsupport {

namespace {

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Waits for a peer tool while the program under test keeps turning: it is a client of the same
// broker and must be able to answer it.
bool finish(QProcess& p, int ms) {
    QDeadlineTimer deadline(allowMs(ms));
    while (p.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        p.waitForFinished(5);
    }
    return p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
}

QStringList peer(const MosquittoBroker& b) {
    return {QStringLiteral("-h"),      QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
            QString::number(b.port()), QStringLiteral("-q"),        QStringLiteral("1")};
}

}  // namespace

MosquittoBroker::MosquittoBroker(const QString& extra) : extra_(extra) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

MosquittoBroker::~MosquittoBroker() {
    kill();
}

bool MosquittoBroker::start() {
    if (port_ == 0)
        port_ = freePort();
    const QString conf = dir_.filePath(QStringLiteral("mosquitto.conf"));
    // Run as root, the broker would drop to its own user, which cannot read the test's files.
    const passwd* me = getpwuid(geteuid());
    const QByteArray text =
        QStringLiteral(
            "user %3\n"
            "per_listener_settings false\n"
            "persistence false\n"
            "log_dest file %4\n"
            "log_type all\n"
            "listener %1 127.0.0.1\n%2\n")
            .arg(port_)
            .arg(extra_.isEmpty() ? QStringLiteral("allow_anonymous true") : extra_)
            .arg(QString::fromLocal8Bit(me ? me->pw_name : "root"))
            .arg(dir_.filePath(QStringLiteral("broker.log")))
            .toUtf8();
    if (!writeFile(conf, text))
        return false;
    process_.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), conf});
    if (!process_.waitForStarted(allowMs(5000)))
        return false;
    QDeadlineTimer deadline(allowMs(5000));
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(port_));
        if (probe.waitForConnected(200))
            return true;
        if (process_.state() != QProcess::Running)
            return false;
        QThread::msleep(20);
    }
    return false;
}

void MosquittoBroker::kill() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    process_.waitForFinished(allowMs(3000));
}

QString MosquittoBroker::log() const {
    return QString::fromUtf8(readFile(dir_.filePath(QStringLiteral("broker.log"))));
}

bool MosquittoBroker::publish(const QString& topic, const QByteArray& payload, bool retain) const {
    const QString file = dir_.filePath(QStringLiteral("payload"));
    if (!writeFile(file, payload))
        return false;
    QStringList args = peer(*this);
    args << QStringLiteral("-t") << topic;
    // -n for an empty message; -f otherwise, which carries any bytes.
    if (payload.isEmpty())
        args << QStringLiteral("-n");
    else
        args << QStringLiteral("-f") << file;
    if (retain)
        args << QStringLiteral("-r");
    QProcess p;
    p.start(QStringLiteral("mosquitto_pub"), args);
    return finish(p, 5000);
}

bool MosquittoBroker::publishLines(const QString& topic, const QByteArray& lines) const {
    QProcess p;
    p.start(QStringLiteral("mosquitto_pub"),
            peer(*this) << QStringLiteral("-t") << topic << QStringLiteral("-l"));
    p.write(lines);
    p.closeWriteChannel();
    return finish(p, 10000);
}

std::optional<QByteArray> MosquittoBroker::retained(const QString& topic) const {
    QProcess p;
    p.start(QStringLiteral("mosquitto_sub"),
            peer(*this) << QStringLiteral("-t") << topic << QStringLiteral("--retained-only")
                        << QStringLiteral("-C") << QStringLiteral("1") << QStringLiteral("-W")
                        << QStringLiteral("1") << QStringLiteral("-F") << QStringLiteral("%x"));
    if (!finish(p, 5000))
        return std::nullopt;
    return QByteArray::fromHex(p.readAllStandardOutput().trimmed());
}

Subscriber::Subscriber(const MosquittoBroker& broker, const QString& filter) {
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, &process_, [this] { read(); });
    process_.start(QStringLiteral("mosquitto_sub"),
                   peer(broker) << QStringLiteral("-t") << filter << QStringLiteral("-t")
                                << QStringLiteral("testsupport/ready") << QStringLiteral("-F")
                                << QStringLiteral("%t %x"));
    // Subscribed once it hears its own marker.
    QDeadlineTimer deadline(allowMs(5000));
    while (!deadline.hasExpired() && !ready_) {
        broker.publish(QStringLiteral("testsupport/ready"), "1");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process_.waitForReadyRead(20);
        read();
        ready_ = !payloads(QStringLiteral("testsupport/ready")).isEmpty();
    }
}

Subscriber::~Subscriber() {
    process_.kill();
    process_.waitForFinished(1000);
}

void Subscriber::read() {
    buffer_ += process_.readAllStandardOutput();
    qsizetype end;
    while ((end = buffer_.indexOf('\n')) >= 0) {
        const QByteArray line = buffer_.left(end);
        buffer_.remove(0, end + 1);
        const qsizetype space = line.indexOf(' ');
        if (space > 0)
            seen_.append(
                {QString::fromUtf8(line.left(space)), QByteArray::fromHex(line.mid(space + 1))});
    }
}

QList<QByteArray> Subscriber::payloads(const QString& topic) {
    read();
    QList<QByteArray> out;
    for (const auto& [t, p] : seen_)
        if (t == topic)
            out.append(p);
    return out;
}

}  // namespace testsupport
