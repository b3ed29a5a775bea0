#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for the web page loader's tests and benchmarks. Each
// answer closes its connection. Besides plain pages it can answer slowly, hold an answer until
// the test releases it, send a body or a header that never ends, redirect, and stream a body of
// any length made up as it goes, so a page of many megabytes never sits in memory whole. Given a
// certificate it speaks TLS instead (https), and a client that refuses the certificate never gets
// as far as a request.

#include <functional>
#include <memory>

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace testhttp {

struct Request {
    QByteArray method;
    QByteArray target;  // as sent: path and query
    QByteArray path;    // without the query
    QList<QPair<QByteArray, QByteArray>> headers;

    QByteArray header(const QByteArray& name) const {
        for (const auto& h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        return QByteArray();
    }
    bool hasHeader(const QByteArray& name) const {
        for (const auto& h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        return false;
    }
};

struct Response {
    enum class Mode {
        Whole,          // everything at once
        Drip,           // the body `chunk` bytes every `everyMs`
        Hold,           // headers and `holdAfter` body bytes; the rest when the test releases it
        EndlessBody,    // headers, then `chunk` bytes every `everyMs` for ever
        EndlessHeader,  // a status line, then header lines for ever
        Stream,         // `length` bytes from `produce`, made as the connection takes them
    };
    // The bytes of a streamed body from `offset` on, at most `max` of them.
    using Producer = std::function<QByteArray(qint64 offset, qint64 max)>;

    int status = 200;
    QByteArray reason = "OK";
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    Mode mode = Mode::Whole;
    int chunk = 16;
    int everyMs = 20;
    int holdAfter = 0;
    qint64 length = 0;
    Producer produce;
    bool sendLength = true;  // without it the body ends where the connection does

    Response& with(const QByteArray& name, const QByteArray& value) {
        headers.append({name, value});
        return *this;
    }
    Response& in(Mode m) {
        mode = m;
        return *this;
    }

    // A page with the given bytes; an empty type sends no Content-Type at all.
    static Response page(const QByteArray& body, const QByteArray& type = "text/html") {
        Response r;
        r.body = body;
        if (!type.isEmpty())
            r.with("Content-Type", type);
        return r;
    }
    // A UTF-8 page whose title element holds the text as given.
    static Response titled(const QString& title) {
        return page("<!DOCTYPE html>\n<html><head><title>" + title.toUtf8() +
                        "</title></head>\n<body><p>Remote control page</p></body></html>\n",
                    "text/html; charset=utf-8");
    }
    // A streamed page of `length` bytes: `filler` repeated, with each of `pieces` (offset, bytes)
    // laid over it.
    static Response generated(qint64 length, const QByteArray& filler,
                              const QList<QPair<qint64, QByteArray>>& pieces,
                              const QByteArray& type = "text/html") {
        Response r;
        r.mode = Mode::Stream;
        r.length = length;
        if (!type.isEmpty())
            r.with("Content-Type", type);
        r.produce = [filler, pieces](qint64 offset, qint64 max) {
            QByteArray out(max, Qt::Uninitialized);
            for (qint64 i = 0; i < max; ++i)
                out[i] = filler[(offset + i) % filler.size()];
            for (const auto& p : pieces) {
                const qint64 from = qMax(offset, p.first);
                const qint64 to = qMin(offset + max, p.first + p.second.size());
                for (qint64 i = from; i < to; ++i)
                    out[i - offset] = p.second[i - p.first];
            }
            return out;
        };
        return r;
    }
    static Response redirect(const QByteArray& location, int status = 302) {
        Response r;
        r.status = status;
        r.reason = "Found";
        r.with("Location", location);
        return r;
    }
    static Response notFound(const QByteArray& body = "<title>Not Found</title>Nothing here") {
        Response r = page(body);
        r.status = 404;
        r.reason = "Not Found";
        return r;
    }
};

class Server : public QObject {
public:
    using Handler = std::function<Response(const Request&)>;

    Server() : listener_(std::make_unique<QTcpServer>()) {
        connect(listener_.get(), &QTcpServer::newConnection, this, [this] { accept(); });
        listen();
    }
    // An https server showing the certificate in the PEM file `certificate`, made with `key`.
    Server(const QString& certificate, const QString& key) : scheme_("https") {
        auto* tls = new QSslServer;
        listener_.reset(tls);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificateChain(QSslCertificate::fromPath(certificate));
        QFile keyFile(key);
        if (!keyFile.open(QIODevice::ReadOnly))
            qFatal("the test server cannot read its key");
        config.setPrivateKey(QSslKey(&keyFile, QSsl::Rsa));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls->setSslConfiguration(config);
        // A TLS connection becomes pending only once its handshake has succeeded.
        connect(tls, &QTcpServer::pendingConnectionAvailable, this, [this] { accept(); });
        connect(tls, &QSslServer::errorOccurred, this, [this] { ++refusedHandshakes_; });
        listen();
    }
    ~Server() override {
        const auto open = connections_;
        for (const auto& c : open) {
            if (!c->socket)
                continue;
            c->socket->disconnect(this);
            c->socket->abort();
        }
    }

    quint16 port() const { return listener_->serverPort(); }
    QString url(const QByteArray& target = "/") const {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(QLatin1String(scheme_))
            .arg(port())
            .arg(QString::fromLatin1(target));
    }
    // TLS connections that ended in their handshake, so never carried a request.
    int refusedHandshakes() const { return refusedHandshakes_; }

    void on(const QByteArray& path, Handler handler) { routes_[path] = std::move(handler); }
    void serve(const QByteArray& path, const Response& r) {
        on(path, [r](const Request&) { return r; });
    }
    void setTitle(const QByteArray& path, const QString& title) {
        serve(path, Response::titled(title));
    }

    QList<Request> requests() const { return requests_; }
    int hits(const QByteArray& path) const {
        int n = 0;
        for (const Request& r : requests_)
            n += r.path == path;
        return n;
    }
    Request last(const QByteArray& path) const {
        for (qsizetype i = requests_.size() - 1; i >= 0; --i)
            if (requests_[i].path == path)
                return requests_[i];
        return Request();
    }

    // Answers held back so far; release() lets them finish.
    int held() const {
        int n = 0;
        for (const auto& c : held_)
            n += c->socket && c->socket->state() == QAbstractSocket::ConnectedState;
        return n;
    }
    void release() {
        const auto waiting = held_;
        held_.clear();
        for (const auto& c : waiting) {
            if (!c->socket)
                continue;
            c->socket->write(c->pending);
            c->socket->disconnectFromHost();
        }
    }

    // A port on 127.0.0.1 where nothing listens: connecting to it is refused.
    static quint16 refusingPort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        probe.close();
        return port;
    }

private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        QByteArray in;
        QByteArray pending;
        bool answered = false;
    };
    using Link = std::shared_ptr<Connection>;

    void listen() {
        if (!listener_->listen(QHostAddress::LocalHost, 0))
            qFatal("the test server cannot listen on 127.0.0.1");
    }

    void accept() {
        while (QTcpSocket* s = listener_->nextPendingConnection()) {
            auto c = std::make_shared<Connection>();
            c->socket = s;
            connections_.append(c);
            connect(s, &QTcpSocket::readyRead, this, [this, c] { read(c); });
            connect(s, &QTcpSocket::disconnected, this, [this, c] {
                connections_.removeAll(c);
                if (c->socket)
                    c->socket->deleteLater();
            });
        }
    }

    void read(const Link& c) {
        QTcpSocket* s = c->socket;
        if (!s)
            return;
        if (c->answered) {
            s->readAll();
            return;
        }
        c->in += s->readAll();
        const qsizetype end = c->in.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = c->in.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        Request r;
        r.method = first.value(0);
        r.target = first.value(1);
        r.path = r.target.left(r.target.indexOf('?') < 0 ? r.target.size() : r.target.indexOf('?'));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                r.headers.append(
                    {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        requests_.append(r);
        c->answered = true;
        const auto route = routes_.constFind(r.path);
        answer(c, route == routes_.constEnd() ? Response::notFound() : (*route)(r));
    }

    void answer(const Link& c, const Response& r) {
        QTcpSocket* s = c->socket;
        using Mode = Response::Mode;
        if (r.mode == Mode::EndlessHeader) {
            s->write("HTTP/1.1 200 OK\r\n");
            every(s, r.everyMs, [s, n = 0]() mutable {
                s->write("X-Filler-" + QByteArray::number(++n) + ": " + QByteArray(512, 'x') +
                         "\r\n");
                return true;
            });
            return;
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " " + r.reason + "\r\n";
        for (const auto& h : r.headers)
            head += h.first + ": " + h.second + "\r\n";
        if (r.mode == Mode::Stream) {
            if (r.sendLength)
                head += "Content-Length: " + QByteArray::number(r.length) + "\r\n";
        } else if (r.mode != Mode::EndlessBody) {
            head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        }
        head += "Connection: close\r\n\r\n";
        s->write(head);
        switch (r.mode) {
            case Mode::Whole:
                s->write(r.body);
                s->disconnectFromHost();
                break;
            case Mode::Drip:
                c->pending = r.body;
                every(s, r.everyMs, [s, c, chunk = r.chunk] {
                    s->write(c->pending.left(chunk));
                    c->pending.remove(0, chunk);
                    if (!c->pending.isEmpty())
                        return true;
                    s->disconnectFromHost();
                    return false;
                });
                break;
            case Mode::Hold:
                s->write(r.body.left(r.holdAfter));
                c->pending = r.body.mid(r.holdAfter);
                held_.append(c);
                break;
            case Mode::EndlessBody:
                s->write(r.body);
                every(s, r.everyMs, [s, chunk = r.chunk] {
                    s->write(QByteArray(chunk, ' '));
                    return true;
                });
                break;
            case Mode::Stream:
                stream(s, r);
                break;
            case Mode::EndlessHeader:
                break;
        }
    }

    // Writes the streamed body as the connection drains, a little ahead of it.
    static void stream(QTcpSocket* s, const Response& r) {
        struct Progress {
            qint64 sent = 0;
            bool closed = false;
        };
        auto progress = std::make_shared<Progress>();
        const auto pump = [s, progress, length = r.length, produce = r.produce] {
            if (progress->closed || s->state() != QAbstractSocket::ConnectedState)
                return;
            while (progress->sent < length && s->bytesToWrite() < 256 * 1024) {
                const QByteArray part =
                    produce(progress->sent, qMin<qint64>(64 * 1024, length - progress->sent));
                if (part.isEmpty())
                    break;
                s->write(part);
                progress->sent += part.size();
            }
            if (progress->sent >= length) {
                progress->closed = true;
                s->disconnectFromHost();
            }
        };
        QObject::connect(s, &QTcpSocket::bytesWritten, s, pump);
        pump();
    }

    // Runs `step` every `ms` until it returns false or the connection goes.
    static void every(QTcpSocket* s, int ms, std::function<bool()> step) {
        auto* t = new QTimer(s);
        t->setInterval(ms);
        QObject::connect(t, &QTimer::timeout, s, [s, t, step] {
            if (s->state() != QAbstractSocket::ConnectedState || !step())
                t->stop();
        });
        t->start();
    }

    std::unique_ptr<QTcpServer> listener_;
    const char* scheme_ = "http";
    int refusedHandshakes_ = 0;
    QHash<QByteArray, Handler> routes_;
    QList<Request> requests_;
    QList<Link> connections_;
    QList<Link> held_;
};

}  // namespace testhttp
