#include "platform/web/WebBrowser.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include "platform/app/AppInfo.h"
#include "platform/web/HtmlPage.h"

namespace platform {
namespace {

// Anything a page refers to (pictures, style sheets, frames) stays unfetched: the preview shows
// what the loader brought and nothing else. Both the view and its document are closed off,
// because a plain QTextDocument falls back to reading local files by itself.
class PreviewDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl&) override { return QVariant(); }
};

class PreviewView : public QTextBrowser {
public:
    explicit PreviewView(QWidget* parent) : QTextBrowser(parent) {
        setDocument(new PreviewDocument(this));
        setReadOnly(true);
        setUndoRedoEnabled(false);
        setOpenLinks(false);
        setOpenExternalLinks(false);
    }
    QVariant loadResource(int, const QUrl&) override { return QVariant(); }
};

// A page must not make the cookie store grow for as long as the window stays open.
class BoundedCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;

protected:
    bool insertCookie(const QNetworkCookie& cookie) override {
        if (cookie.toRawForm().size() > WebBrowser::kMaxCookieBytes)
            return false;
        if (!QNetworkCookieJar::insertCookie(cookie))
            return false;
        QList<QNetworkCookie> all = allCookies();
        if (all.size() > WebBrowser::kMaxCookies) {
            all.erase(all.begin(), all.end() - WebBrowser::kMaxCookies);
            setAllCookies(all);
        }
        return true;
    }
};

QList<QSslCertificate>& extraAuthorities() {
    static QList<QSslCertificate> authorities;
    return authorities;
}

const QString kNotLoaded = QStringLiteral("Page not loaded: ");

// Names that are not a page's own title must never read as a command.
QString commandSafe(QString name) {
    if (name.startsWith(u'0') || name.startsWith(u'1'))
        name.prepend(QStringLiteral("Page "));
    return name;
}

QString addressName(const QUrl& url) {
    return commandSafe(url.toDisplayString(QUrl::RemovePassword));
}

bool isBlank(const QUrl& url) {
    return url.scheme() == QLatin1String("about") && url.path() == QLatin1String("blank");
}

bool isWeb(const QUrl& url) {
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

bool isSupported(const QUrl& url) {
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("file");
}

// What was wrong with a certificate, most telling first; several faults are all named.
QString describeCertificate(const QList<QSslError>& errors) {
    struct Fault {
        QList<QSslError::SslError> codes;
        const char* text;
    };
    static const Fault kFaults[] = {
        {{QSslError::SelfSignedCertificate, QSslError::SelfSignedCertificateInChain},
         "the certificate is self-signed"},
        {{QSslError::CertificateExpired}, "the certificate has expired"},
        {{QSslError::CertificateNotYetValid}, "the certificate is not valid yet"},
        {{QSslError::UnableToGetLocalIssuerCertificate, QSslError::UnableToGetIssuerCertificate,
          QSslError::UnableToVerifyFirstCertificate, QSslError::CertificateUntrusted},
         "the certificate comes from an authority that is not trusted"},
        {{QSslError::HostNameMismatch}, "the certificate is for another server"},
        {{QSslError::CertificateRevoked}, "the certificate has been revoked"},
    };
    QStringList found;
    for (const Fault& f : kFaults)
        for (const QSslError& e : errors)
            if (f.codes.contains(e.error())) {
                found.append(QLatin1String(f.text));
                break;
            }
    if (found.isEmpty())
        for (const QSslError& e : errors) {
            const QString text =
                QStringLiteral("the certificate was refused (%1)").arg(e.errorString());
            if (!found.contains(text))
                found.append(text);
        }
    return found.join(QLatin1String("; "));
}

QString describe(QNetworkReply::NetworkError error, const QString& fallback) {
    switch (error) {
        case QNetworkReply::ConnectionRefusedError:
            return QStringLiteral("the server refused the connection");
        case QNetworkReply::RemoteHostClosedError:
            return QStringLiteral("the server closed the connection");
        case QNetworkReply::HostNotFoundError:
            return QStringLiteral("the server was not found");
        case QNetworkReply::TimeoutError:
            return QStringLiteral("the server did not answer in time");
        case QNetworkReply::SslHandshakeFailedError:
            return QStringLiteral("no secure connection could be made");
        case QNetworkReply::TemporaryNetworkFailureError:
        case QNetworkReply::NetworkSessionFailedError:
        case QNetworkReply::BackgroundRequestNotAllowedError:
            return QStringLiteral("the network is not available");
        case QNetworkReply::TooManyRedirectsError:
            return QStringLiteral("more than %1 redirects").arg(WebBrowser::kMaxRedirects);
        case QNetworkReply::InsecureRedirectError:
            return QStringLiteral("a redirect to an insecure address was refused");
        case QNetworkReply::ProxyConnectionRefusedError:
        case QNetworkReply::ProxyConnectionClosedError:
        case QNetworkReply::ProxyNotFoundError:
        case QNetworkReply::ProxyTimeoutError:
        case QNetworkReply::ProxyAuthenticationRequiredError:
            return QStringLiteral("the proxy server failed");
        case QNetworkReply::ContentNotFoundError:
            return QStringLiteral("not found");
        case QNetworkReply::ContentAccessDenied:
        case QNetworkReply::ContentOperationNotPermittedError:
            return QStringLiteral("access denied");
        case QNetworkReply::ProtocolUnknownError:
            return QStringLiteral("this kind of address cannot be shown");
        case QNetworkReply::ProtocolFailure:
            return QStringLiteral("the server's answer could not be read");
        default:
            return fallback;
    }
}

}  // namespace

WebBrowser::WebBrowser(QWidget* parent)
    : QWidget(parent), nam_(new QNetworkAccessManager(this)), view_(new PreviewView(this)) {
    view_->setObjectName(QStringLiteral("preview"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    nam_->setAutoDeleteReplies(false);
    nam_->setCookieJar(new BoundedCookieJar(nam_));
    timeout_.setSingleShot(true);
    // A coarse timer may fire a twentieth early, failing a load that is still within time.
    timeout_.setTimerType(Qt::PreciseTimer);
    connect(&timeout_, &QTimer::timeout, this, &WebBrowser::onTimeout);
    connect(view_, &QTextBrowser::anchorClicked, this, &WebBrowser::onAnchorClicked);
}

WebBrowser::~WebBrowser() {
    stopReply();
}

QUrl WebBrowser::addressFromUserInput(const QString& typed) {
    const QString address = typed.trimmed();
    if (address.isEmpty())
        return QUrl(QStringLiteral("about:blank"));
    return QUrl::fromUserInput(address);
}

void WebBrowser::trustAuthorities(const QList<QSslCertificate>& authorities) {
    extraAuthorities() = authorities;
}

void WebBrowser::Navigate(const QString& address) {
    start(addressFromUserInput(address), false);
}

void WebBrowser::Navigate2(const QString& address) {
    start(addressFromUserInput(address), false);
}

void WebBrowser::Refresh2() {
    if (state_ == READYSTATE_UNINITIALIZED)
        return;
    // Reloading while a load is under way starts that load again.
    start(state_ == READYSTATE_LOADING ? target_ : current_, true);
}

QString WebBrowser::LocationURL() const {
    const QUrl& url = navigating_ ? target_ : current_;
    return url.toDisplayString(QUrl::RemovePassword);
}

void WebBrowser::start(const QUrl& url, bool reload) {
    stopReply();
    const quint64 serial = ++serial_;
    navigating_ = !reload || (state_ == READYSTATE_LOADING && navigating_);
    target_ = url;
    state_ = READYSTATE_LOADING;
    body_.clear();
    sslErrors_.clear();
    if (!reload)
        name_ = url.isValid() ? addressName(url) : kNotLoaded + QStringLiteral("not an address");
    Q_EMIT loadStarted();

    // Every outcome arrives later, as it would from the network, so callers always see the
    // loading state first.
    const auto later = [this, serial](auto then) {
        QTimer::singleShot(0, this, [this, serial, then] {
            if (serial == serial_)
                then();
        });
    };
    if (!url.isValid()) {
        later([this] { fail(QStringLiteral("not an address")); });
        return;
    }
    if (isBlank(url)) {
        later([this] { arrive(target_, "text/html", QByteArray(), 0, QString()); });
        return;
    }
    if (!isSupported(url)) {
        later([this] { fail(QStringLiteral("only http, https and file addresses can be shown")); });
        return;
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setHeader(
        QNetworkRequest::UserAgentHeader,
        QStringLiteral("%1/%2.%3").arg(App::Title()).arg(App::Major()).arg(App::Minor()));
    request.setRawHeader("Accept", "text/html,application/xhtml+xml,*/*;q=0.8");
    if (!extraAuthorities().isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(extraAuthorities());
        request.setSslConfiguration(tls);
    }
    if (reload) {
        // The poller needs the title the server serves now, not one a cache or proxy kept.
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        request.setRawHeader("Cache-Control", "no-cache");
        request.setRawHeader("Pragma", "no-cache");
    }
    reply_ = nam_->get(request);
    reply_->setReadBufferSize(kMaxBytes);
    connect(reply_, &QNetworkReply::readyRead, this, &WebBrowser::onReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &WebBrowser::onFinished);
    connect(reply_, &QNetworkReply::sslErrors, this, &WebBrowser::onSslErrors);
    timeout_.start(timeoutMs_);
}

void WebBrowser::stopReply() {
    timeout_.stop();
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void WebBrowser::onReadyRead() {
    if (!reply_)
        return;
    body_.append(reply_->read(kMaxBytes - body_.size()));
    if (body_.size() < kMaxBytes)
        return;
    // Enough: the rest of the page is not read, and the title comes from what is here.
    QNetworkReply* reply = reply_;
    const QUrl url = reply->url();
    const QByteArray type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    stopReply();
    arrive(url, type, body_, status, reason);
}

void WebBrowser::onFinished() {
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    body_.append(reply->read(kMaxBytes - body_.size()));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    const QUrl url = reply->url();
    const QByteArray type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    stopReply();
    // An HTTP error status still brings a page (the server's error page), which arrive()
    // shows without taking its title. A broken transfer is a failure even when it began well.
    const bool errorPage = status >= 300 && int(error) >= int(QNetworkReply::ContentAccessDenied);
    if (error == QNetworkReply::NoError || errorPage)
        arrive(url, type, body_, status, reason);
    else if (!sslErrors_.isEmpty())
        fail(describeCertificate(sslErrors_));
    else
        fail(describe(error, errorText));
}

void WebBrowser::onSslErrors(const QList<QSslError>& errors) {
    // Nothing is ignored: the handshake fails and the load ends with these named.
    sslErrors_ += errors;
}

void WebBrowser::onTimeout() {
    if (state_ != READYSTATE_LOADING)
        return;
    stopReply();
    fail(QStringLiteral("no complete answer within %1 seconds").arg(timeoutMs_ / 1000.0));
}

void WebBrowser::arrive(const QUrl& url, const QByteArray& contentType, const QByteArray& body,
                        int httpStatus, const QString& httpReason) {
    using namespace platform::html;
    const Kind kind = kindOf(contentType, url, body);
    QString text;
    if (kind != Kind::Binary)
        text = decodeDocument(body, charsetParameter(contentType), kind);

    if (httpStatus >= 300) {
        // The server's own error page is shown, but its title is not the user's page and must
        // not switch anything.
        fail(QStringLiteral("the server answered %1 %2").arg(httpStatus).arg(httpReason).trimmed(),
             kind == Kind::Html ? text : QString());
        return;
    }

    current_ = url;
    navigating_ = false;
    QString title;
    if (kind == Kind::Html)
        title = documentTitle(text);
    name_ = title.isEmpty() ? addressName(url) : title;
    if (kind == Kind::Binary)
        show(QStringLiteral("This page cannot be shown in the preview (%1, %2 bytes).")
                 .arg(QString::fromLatin1(contentType.isEmpty() ? "no type" : contentType))
                 .arg(body.size()),
             false);
    else
        show(text, kind == Kind::Html);
    state_ = READYSTATE_COMPLETE;
    Q_EMIT loadEnded(true);
}

void WebBrowser::fail(const QString& reason, const QString& shownHtml) {
    // The failed address counts as the page shown, so a reload tries it again.
    current_ = target_;
    navigating_ = false;
    name_ = commandSafe(kNotLoaded + reason);
    if (shownHtml.isEmpty())
        show(name_ + QStringLiteral("\n\n") + target_.toDisplayString(QUrl::RemovePassword), false);
    else
        show(shownHtml, true);
    state_ = READYSTATE_COMPLETE;
    Q_EMIT loadEnded(false);
}

void WebBrowser::show(const QString& text, bool html) {
    // A reload of an unchanged page leaves the preview alone: no redraw, no jump to the top.
    if (text == shown_ && html == shownHtml_)
        return;
    shown_ = text;
    shownHtml_ = html;
    view_->setHtml(html ? html::previewHtml(text, kPreviewChars)
                        : html::previewText(text, kPreviewChars));
}

void WebBrowser::onAnchorClicked(const QUrl& link) {
    const QUrl url = current_.resolved(link);
    if (url.adjusted(QUrl::RemoveFragment) == current_.adjusted(QUrl::RemoveFragment) &&
        url.hasFragment()) {
        view_->scrollToAnchor(url.fragment());
        return;
    }
    // A page from the web, which anyone who can edit it controls, never leads to local files.
    if (isWeb(current_) && !isWeb(url))
        return;
    // Following a link moves the preview, and the poller with it, to that page.
    start(url, false);
}

}  // namespace platform
