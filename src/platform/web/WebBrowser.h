#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>

class QNetworkAccessManager;
class QNetworkReply;
class QTextBrowser;

namespace platform {

// The web page loader with its preview, as the internet settings window and its poller use it.
//
// Pages come from http, https and file addresses through QNetworkAccessManager; the preview is a
// read-only rich-text view that runs no scripts and fetches nothing on its own (no pictures,
// no style sheets). It shows the page's text with plain formatting rather than the page's own
// markup, which rich-text layout cannot be trusted to lay out in reasonable time. A remote page is
// untrusted input: at most kMaxBytes of it are read (the title comes from what arrived), a load
// that has not ended after the timeout fails, and at most kMaxRedirects redirects are followed.
// Reading it takes time linear in its size (platform/HtmlPage.h). A link on an http or https
// page leads only to another http or https page, never to a local file; typed addresses and
// links on local pages may go anywhere the loader can. Cookies are kept in memory for as long as
// the loader lives, at most kMaxCookies of them, each at most kMaxCookieBytes; a new one pushes
// out the oldest. A secure page whose certificate does not verify is not loaded at all: nothing
// is asked of the server, and the name says what was wrong with the certificate.
//
// LocationName is what the poller switches device 1 by, so its rules matter:
//  - a loaded page: its title's text exactly, references decoded and no blank stripped, or its
//    address when it has no title or an empty one;
//  - a failed load: "Page not loaded: " and the reason;
//  - while Navigate/Navigate2 loads: the address being loaded;
//  - while Refresh2 reloads: the name of the page shown, until the reloaded page has arrived, so
//    reloading an unchanged page never looks like a change of title.
// Only a page's own title can make the name begin with "1" or "0".
class WebBrowser : public QWidget {
    Q_OBJECT
public:
    enum State {
        READYSTATE_UNINITIALIZED = 0,  // nothing loaded yet
        READYSTATE_LOADING = 1,
        READYSTATE_COMPLETE = 4,  // the last load has ended, well or not
    };

    static constexpr qint64 kMaxBytes = 1024 * 1024;
    static constexpr int kMaxRedirects = 10;
    static constexpr int kDefaultTimeoutMs = 30000;
    // Characters of text the preview shows at most (the title is read from the whole page).
    static constexpr qsizetype kPreviewChars = 256 * 1024;
    static constexpr int kMaxCookies = 50;
    static constexpr int kMaxCookieBytes = 4096;  // the whole Set-Cookie form of one cookie

    explicit WebBrowser(QWidget* parent = nullptr);
    ~WebBrowser() override;

    // Both start loading the address and return at once. An address without a scheme is read
    // as a browser's address bar reads it; an empty one shows a blank page.
    void Navigate(const QString& address);
    void Navigate2(const QString& address);
    // Reloads the page shown (or retries the address that failed) from the server, past every
    // cache. Returns at once. Does nothing before the first navigation.
    void Refresh2();

    QString LocationName() const { return name_; }
    // The address the name belongs to: the one being navigated to, else the page shown (after
    // redirects).
    QString LocationURL() const;
    int ReadyState() const { return state_; }

    QTextBrowser* preview() const { return view_; }

    int loadTimeoutMs() const { return timeoutMs_; }
    void setLoadTimeoutMs(int ms) { timeoutMs_ = ms; }

    // How a typed address is read: a scheme-less one as a browser would, blank as about:blank.
    // An address that cannot be read gives an invalid QUrl.
    static QUrl addressFromUserInput(const QString& typed);

    // Certificate authorities trusted besides the system's, by every loader from now on: the
    // seam through which tests trust an authority of their own.
    static void trustAuthorities(const QList<QSslCertificate>& authorities);

Q_SIGNALS:
    // A load has begun (ReadyState is 1; LocationName may have changed).
    void loadStarted();
    // A load has ended (ReadyState is 4 again).
    void loadEnded(bool ok);

private:
    void start(const QUrl& url, bool reload);
    void stopReply();
    void onReadyRead();
    void onFinished();
    void onTimeout();
    void onAnchorClicked(const QUrl& link);
    void onSslErrors(const QList<QSslError>& errors);
    void arrive(const QUrl& url, const QByteArray& contentType, const QByteArray& body,
                int httpStatus, const QString& httpReason);
    void fail(const QString& reason, const QString& shownHtml = QString());
    void show(const QString& text, bool html);

    QNetworkAccessManager* nam_;
    QTextBrowser* view_;
    QPointer<QNetworkReply> reply_;
    QTimer timeout_;
    QByteArray body_;
    QList<QSslError> sslErrors_;  // what the current load's certificate check found
    QUrl target_;                 // the address the current or last load asked for
    QUrl current_;                // the page shown: where the last load ended up
    QString name_;
    QString shown_;  // what the preview holds, so an unchanged reload does not redraw it
    bool shownHtml_ = false;
    int state_ = READYSTATE_UNINITIALIZED;
    bool navigating_ = false;
    int timeoutMs_ = kDefaultTimeoutMs;
    quint64 serial_ = 0;
};

}  // namespace platform
