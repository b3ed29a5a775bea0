#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrlQuery>
#include <QtTest>

#include "platform/web/WebBrowser.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

using platform::WebBrowser;
using testhttp::Response;
using Mode = testhttp::Response::Mode;

namespace {

const int kLoading = WebBrowser::READYSTATE_LOADING;
const int kComplete = WebBrowser::READYSTATE_COMPLETE;

QByteArray randomBytes(int n) {
    QRandomGenerator g(5);
    QByteArray b(n, '\0');
    for (char& c : b)
        c = char(g.bounded(256));
    return b;
}

bool readsAsCommand(const QString& name) {
    return name.startsWith(u'1') || name.startsWith(u'0');
}

}  // namespace

class TestWebBrowser : public QObject {
    Q_OBJECT

    std::unique_ptr<testhttp::Server> server;
    std::unique_ptr<WebBrowser> browser;

private Q_SLOTS:
    void init() {
        server = std::make_unique<testhttp::Server>();
        browser = std::make_unique<WebBrowser>();
    }
    void cleanup() {
        browser.reset();
        server.reset();
    }

    // ---- the page's name ----------------------------------------------------------------

    void nameIsTheTitleAsADocumentGivesIt_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QString>("name");  // "@": the page's address
        const QByteArray html = "text/html";
        QTest::newRow("plain") << QByteArray("<title>10000</title>") << html << "10000";
        QTest::newRow("named references")
            << QByteArray(
                   "<title>Tom &amp; Jerry &lt;3 caf&eacute;&nbsp;&copy2020 &notit; "
                   "&bogus; &#</title>")
            << html << QString::fromUtf8("Tom & Jerry <3 café\u00a0©2020 ¬it; &bogus; &#");
        QTest::newRow("numeric references")
            << QByteArray("<title>&#49;&#x30;&#150;&#0;&#x110000;&#xD800;&#128512;</title>") << html
            << QString::fromUtf8("10\u2013\uFFFD\uFFFD\uFFFD😀");
        // The poller compares the title exactly, so blanks are neither stripped nor collapsed.
        QTest::newRow("whitespace kept") << QByteArray("<title>\n  10000 \t\r\n on \f now </title>")
                                         << html << "\n  10000 \t\r\n on \f now ";
        QTest::newRow("blank first") << QByteArray("<title> 10000</title>") << html << " 10000";
        QTest::newRow("blank as a reference first")
            << QByteArray("<title>&#32;10000</title>") << html << " 10000";
        QTest::newRow("no-break space is kept")
            << QByteArray("<title>&nbsp;10000</title>") << html << QString::fromUtf8("\u00a010000");
        QTest::newRow("first title only")
            << QByteArray("<title>00101</title><title>11111</title>") << html << "00101";
        QTest::newRow("title in a comment")
            << QByteArray("<!-- <title>11111</title> --><title>00000</title>") << html << "00000";
        QTest::newRow("title in a script")
            << QByteArray("<script>var t = '<title>1</title>';</script><title>0</title>") << html
            << "0";
        QTest::newRow("title of a drawing")
            << QByteArray("<svg><title>1</title></svg><title>0</title>") << html << "0";
        QTest::newRow("case and attributes")
            << QByteArray("<TITLE lang=\"en\" data-x='a>b'>10000</TiTlE >") << html << "10000";
        QTest::newRow("another element")
            << QByteArray("<titles>1</titles><title>0</title>") << html << "0";
        QTest::newRow("markup in a title is text")
            << QByteArray("<title><b>1</b></title>") << html << "<b>1</b>";
        QTest::newRow("unterminated") << QByteArray("<head><title>10000") << html << "10000";
        QTest::newRow("nul in a title")
            << QByteArray("<title>1\0 2</title>", 19) << html << QString::fromUtf8("1\uFFFD 2");

        QTest::newRow("charset from the server")
            << QByteArray("<title>Caf\xe9</title>") << QByteArray("text/html; charset=iso-8859-1")
            << QString::fromUtf8("Café");
        QTest::newRow("charset from meta")
            << QByteArray("<meta charset=\"koi8-r\"><title>\xf0\xd2\xc9\xd7\xc5\xd4</title>")
            << html << QString::fromUtf8("Привет");
        QTest::newRow("charset from http-equiv")
            << QByteArray(
                   "<!-- <meta charset=koi8-r> --><meta http-equiv=\"Content-Type\" "
                   "content=\"text/html; charset=utf-8\"><title>\xc3\xa9t\xc3\xa9</title>")
            << html << QString::fromUtf8("été");
        QTest::newRow("server beats meta")
            << QByteArray("<meta charset=windows-1252><title>\xc3\xa9</title>")
            << QByteArray("text/html; charset=utf-8") << QString::fromUtf8("é");
        QTest::newRow("byte order mark beats server")
            << QByteArray("\xef\xbb\xbf<title>\xc3\xa9</title>")
            << QByteArray("text/html; charset=iso-8859-1") << QString::fromUtf8("é");
        QTest::newRow("utf-16") << QByteArray("\xff\xfe") +
                                       QByteArray(QStringEncoder(QStringConverter::Utf16LE)(
                                           QString::fromUtf8("<title>été</title>")))
                                << html << QString::fromUtf8("été");
        QTest::newRow("windows-1252 by default") << QByteArray("<title>\x80 \x93x\x94</title>")
                                                 << html << QString::fromUtf8("€ \u201cx\u201d");
        QTest::newRow("unknown charset")
            << QByteArray("<title>caf\xe9</title>")
            << QByteArray("text/html; charset=no-such-thing") << QString::fromUtf8("café");

        QTest::newRow("no title") << QByteArray("<html><body>10000</body></html>") << html << "@";
        QTest::newRow("empty title") << QByteArray("<title></title>") << html << "@";
        QTest::newRow("blank title") << QByteArray("<title> \n </title>") << html << " \n ";
        QTest::newRow("plain text")
            << QByteArray("<title>1</title>") << QByteArray("text/plain") << "@";
        QTest::newRow("binary") << randomBytes(20000) + "<title>1</title>"
                                << QByteArray("application/octet-stream") << "@";
        QTest::newRow("untyped binary")
            << QByteArray("\x01\x02\x03<title>1</title>") << QByteArray() << "@";
        QTest::newRow("untyped html")
            << QByteArray("\n<!DOCTYPE html><title>10000</title>") << QByteArray() << "10000";
        QTest::newRow("huge page")
            << "<title>10000</title>" + QByteArray(3 * 1024 * 1024, 'x') << html << "10000";
        QTest::newRow("title past the first MiB")
            << QByteArray(WebBrowser::kMaxBytes + 1000, ' ') + "<title>1</title>" << html << "@";
    }
    void nameIsTheTitleAsADocumentGivesIt() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, type);
        QFETCH(QString, name);
        server->serve("/page", Response::page(body, type));
        browser->Navigate(server->url("/page"));
        QTRY_COMPARE_WITH_TIMEOUT(browser->ReadyState(), kComplete, testsupport::allowMs(15000));
        QCOMPARE(browser->LocationName(), name == "@" ? server->url("/page") : name);
        QVERIFY(browser->preview()->toPlainText().size() <= WebBrowser::kMaxBytes);
    }

    void loadingLastsUntilTheAnswerHasEnded_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("held") << int(Mode::Hold);
        QTest::newRow("dripping") << int(Mode::Drip);
    }
    void loadingLastsUntilTheAnswerHasEnded() {
        QFETCH(int, mode);
        Response r = Response::titled("10000").in(Mode(mode));
        r.holdAfter = 30;
        r.chunk = 4;
        r.everyMs = 40;  // well over a second for the whole page
        server->serve("/slow", r);
        QSignalSpy ended(browser.get(), &WebBrowser::loadEnded);
        browser->Navigate2(server->url("/slow"));
        QCOMPARE(browser->ReadyState(), kLoading);
        QTRY_COMPARE(server->hits("/slow"), 1);
        QTest::qWait(400);
        QCOMPARE(browser->ReadyState(), kLoading);
        QCOMPARE(browser->LocationName(), server->url("/slow"));
        QCOMPARE(ended.size(), 0);
        server->release();
        QTRY_COMPARE_WITH_TIMEOUT(browser->ReadyState(), kComplete, testsupport::allowMs(10000));
        QCOMPARE(browser->LocationName(), QString("10000"));
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.at(0).at(0).toBool(), true);
    }

    void navigateNamesTheNewAddressUntilItsPageArrives() {
        server->setTitle("/a", "00000");
        Response b = Response::titled("11111").in(Mode::Hold);
        server->serve("/b", b);
        browser->Navigate(server->url("/a"));
        QTRY_COMPARE(browser->LocationName(), QString("00000"));
        browser->Navigate(server->url("/b"));
        QCOMPARE(browser->ReadyState(), kLoading);
        QCOMPARE(browser->LocationName(), server->url("/b"));
        QCOMPARE(browser->LocationURL(), server->url("/b"));
        QTRY_COMPARE(server->held(), 1);
        server->release();
        QTRY_COMPARE(browser->LocationName(), QString("11111"));
    }

    // ---- reloading ----------------------------------------------------------------------

    void refreshFetchesPastCachesAndKeepsTheNameUntilThePageArrives() {
        const auto cacheable = [](const QString& title) {
            return Response::titled(title)
                .with("Cache-Control", "public, max-age=3600")
                .with("Expires", "Thu, 01 Jan 2099 00:00:00 GMT")
                .with("Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT")
                .with("ETag", "\"v1\"");
        };
        server->serve("/page", cacheable("00000"));
        browser->Navigate(server->url("/page"));
        QTRY_COMPARE(browser->LocationName(), QString("00000"));

        server->serve("/page", cacheable("10000").in(Mode::Hold));
        browser->Refresh2();
        QCOMPARE(browser->ReadyState(), kLoading);
        QTRY_COMPARE(server->hits("/page"), 2);
        QTest::qWait(100);
        QCOMPARE(browser->LocationName(), QString("00000"));
        const testhttp::Request asked = server->last("/page");
        QVERIFY(asked.header("Cache-Control").contains("no-cache"));
        QCOMPARE(asked.header("Pragma"), QByteArray("no-cache"));
        QVERIFY(!asked.hasHeader("If-None-Match"));
        QVERIFY(!asked.hasHeader("If-Modified-Since"));

        server->release();
        QTRY_COMPARE(browser->LocationName(), QString("10000"));
        QCOMPARE(browser->ReadyState(), kComplete);
    }

    void reloadingAnUnchangedPageNeverChangesTheName() {
        Response r = Response::titled("10000").in(Mode::Drip);
        r.chunk = 64;
        r.everyMs = 20;
        server->serve("/page", r);
        browser->Navigate(server->url("/page"));
        QTRY_COMPARE(browser->LocationName(), QString("10000"));
        QStringList seen;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, [&] { seen.append(browser->LocationName()); });
        sampler.start(1);
        for (int i = 0; i < 3; ++i) {
            browser->Refresh2();
            QCOMPARE(browser->ReadyState(), kLoading);
            QTRY_COMPARE(browser->ReadyState(), kComplete);
        }
        sampler.stop();
        QCOMPARE(server->hits("/page"), 4);
        seen.removeDuplicates();
        QCOMPARE(seen, QStringList{"10000"});
    }

    void aFailedAddressIsTriedAgainByRefresh() {
        server->serve("/page", Response::notFound());
        browser->Navigate(server->url("/page"));
        QTRY_COMPARE(browser->ReadyState(), kComplete);
        QVERIFY(browser->LocationName().startsWith("Page not loaded"));
        server->setTitle("/page", "10000");
        browser->Refresh2();
        QTRY_COMPARE(browser->LocationName(), QString("10000"));
    }

    // ---- redirects and failures ---------------------------------------------------------

    void redirectsAreFollowedUpToTen_data() {
        QTest::addColumn<int>("hops");
        QTest::addColumn<bool>("arrives");
        QTest::newRow("one") << 1 << true;
        QTest::newRow("ten") << 10 << true;
        QTest::newRow("eleven") << 11 << false;
    }
    void redirectsAreFollowedUpToTen() {
        QFETCH(int, hops);
        QFETCH(bool, arrives);
        server->on("/hop", [](const testhttp::Request& r) {
            const int left =
                QUrlQuery(QUrl(QString::fromLatin1(r.target))).queryItemValue("n").toInt();
            if (left == 0)
                return Response::titled("10000");
            // Relative and absolute locations, temporary and permanent, all count.
            return left % 2 ? Response::redirect("/hop?n=" + QByteArray::number(left - 1), 302)
                            : Response::redirect("hop?n=" + QByteArray::number(left - 1), 301);
        });
        browser->Navigate(server->url("/hop?n=" + QByteArray::number(hops)));
        QTRY_COMPARE(browser->ReadyState(), kComplete);
        if (arrives) {
            QCOMPARE(browser->LocationName(), QString("10000"));
            QCOMPARE(browser->LocationURL(), server->url("/hop?n=0"));
            QCOMPARE(server->hits("/hop"), hops + 1);
        } else {
            QVERIFY2(browser->LocationName().startsWith("Page not loaded") &&
                         browser->LocationName().contains("redirect"),
                     qPrintable(browser->LocationName()));
            QCOMPARE(server->hits("/hop"), WebBrowser::kMaxRedirects + 1);
        }
    }

    void failedLoadsEndWithAShortDescription_data() {
        QTest::addColumn<QString>("address");  // "%1": the test server's port
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("mentions");
        const int whole = int(Mode::Whole);
        QTest::newRow("refused")
            << QString("http://127.0.0.1:%1/").arg(testhttp::Server::refusingPort()) << whole << 200
            << 30000 << "refused";
        QTest::newRow("no answer")
            << "http://127.0.0.1:%1/page" << int(Mode::Hold) << 200 << 800 << "within 0.8 seconds";
        QTest::newRow("answer that never ends")
            << "http://127.0.0.1:%1/page" << int(Mode::EndlessBody) << 200 << 800 << "within";
        QTest::newRow("header that never ends")
            << "http://127.0.0.1:%1/page" << int(Mode::EndlessHeader) << 200 << 1500 << "";
        QTest::newRow("error page titled 1")
            << "http://127.0.0.1:%1/page" << whole << 404 << 30000 << "404";
        QTest::newRow("server error")
            << "http://127.0.0.1:%1/page" << whole << 500 << 30000 << "500";
        QTest::newRow("other scheme")
            << "ftp://127.0.0.1:%1/page" << whole << 200 << 30000 << "http";
        QTest::newRow("not an address") << "1 2 3" << whole << 200 << 30000 << "not an address";
        QTest::newRow("missing file")
            << "/nonexistent-domivox-dir/10000.html" << whole << 200 << 30000 << "not found";
    }
    void failedLoadsEndWithAShortDescription() {
        QFETCH(QString, address);
        QFETCH(int, mode);
        QFETCH(int, status);
        QFETCH(int, timeoutMs);
        QFETCH(QString, mentions);
        Response r = Response::page("<title>1 missing</title><p>10000</p>").in(Mode(mode));
        r.status = status;
        r.reason = status == 404 ? "Not Found" : "Trouble";
        r.chunk = 1;
        r.everyMs = 50;
        server->serve("/page", r);
        if (address.contains("%1"))
            address = address.arg(server->port());
        browser->setLoadTimeoutMs(timeoutMs);
        QSignalSpy ended(browser.get(), &WebBrowser::loadEnded);
        QElapsedTimer clock;
        clock.start();
        browser->Navigate(address);
        QCOMPARE(browser->ReadyState(), kLoading);
        QTRY_COMPARE_WITH_TIMEOUT(browser->ReadyState(), kComplete, testsupport::allowMs(20000));
        if (timeoutMs < 30000)
            QVERIFY2(clock.elapsed() >= timeoutMs, qPrintable(QString::number(clock.elapsed())));
        const QString name = browser->LocationName();
        QVERIFY2(name.startsWith("Page not loaded: ") && name.contains(mentions), qPrintable(name));
        QVERIFY(!readsAsCommand(name));
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.at(0).at(0).toBool(), false);
        if (!address.startsWith("http"))
            QCOMPARE(server->requests().size(), 0);
    }

    // ---- addresses ----------------------------------------------------------------------

    void addressesAreReadAsABrowserReadsThem_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("address");  // a prefix is enough
        QTest::newRow("no scheme") << "www.example.com/page.html"
                                   << "http://www.example.com/page.html";
        QTest::newRow("host and port") << "127.0.0.1:8080/x"
                                       << "http://127.0.0.1:8080/x";
        QTest::newRow("blanks around") << "  https://www.example.com/ "
                                       << "https://www.example.com/";
        QTest::newRow("local path") << "/srv/page.html"
                                    << "file:///srv/page.html";
        QTest::newRow("empty") << ""
                               << "about:blank";
        QTest::newRow("blanks") << "   "
                                << "about:blank";
        // Whatever a numeric-looking address becomes, its name cannot read as a command.
        QTest::newRow("10000") << "10000"
                               << "http://";
        QTest::newRow("00101") << "00101"
                               << "http://";
        QTest::newRow("1") << "1"
                           << "http://";
    }
    void addressesAreReadAsABrowserReadsThem() {
        QFETCH(QString, typed);
        QFETCH(QString, address);
        const QString read = WebBrowser::addressFromUserInput(typed).toDisplayString();
        QVERIFY2(read.startsWith(address), qPrintable(read));
    }

    void anAddressWithoutSchemeLoads() {
        server->setTitle("/page", "00101");
        browser->Navigate(QString("127.0.0.1:%1/page").arg(server->port()));
        QCOMPARE(browser->LocationName(), server->url("/page"));
        QTRY_COMPARE(browser->LocationName(), QString("00101"));
    }

    void anEmptyAddressShowsABlankPage() {
        server->setTitle("/page", "10000");
        browser->Navigate(server->url("/page"));
        QTRY_COMPARE(browser->LocationName(), QString("10000"));
        browser->Navigate2("");
        QCOMPARE(browser->ReadyState(), kLoading);
        QTRY_COMPARE(browser->ReadyState(), kComplete);
        QCOMPARE(browser->LocationName(), QString("about:blank"));
        QCOMPARE(browser->preview()->toPlainText(), QString());
        QCOMPARE(server->hits("/page"), 1);
    }

    void localFilesLoad_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("asUrl");
        QTest::addColumn<QString>("name");  // "@": the file's address
        QTest::newRow("path") << "page.html" << QByteArray("<title>00101</title>") << false
                              << "00101";
        QTest::newRow("file address")
            << "page.htm" << QByteArray("<title>10000</title>") << true << "10000";
        QTest::newRow("html without extension")
            << "page" << QByteArray("<!DOCTYPE html><title>10000</title>") << false << "10000";
        QTest::newRow("binary") << "10000.bin" << randomBytes(4096) << false << "@";
    }
    void localFilesLoad() {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(bool, asUrl);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(file);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        browser->Navigate(asUrl ? QUrl::fromLocalFile(path).toString() : path);
        QTRY_COMPARE(browser->ReadyState(), kComplete);
        QCOMPARE(browser->LocationName(),
                 name == "@" ? QUrl::fromLocalFile(path).toDisplayString() : name);
    }

    // ---- the preview --------------------------------------------------------------------

    void thePreviewShowsThePageAndFetchesNothingItself() {
        QTemporaryDir dir;
        const QString picture = dir.filePath("local.png");
        QImage(4, 4, QImage::Format_RGB32).save(picture);
        const QByteArray body =
            "<title>x</title><link rel=stylesheet href=/style.css>"
            "<img src=/pic.png><img src=\"" +
            server->url("/pic2.png").toLatin1() + "\"><img src=\"" +
            QUrl::fromLocalFile(picture).toEncoded() +
            "\"><script src=/run.js>document.title='1'</script><iframe src=/frame></iframe>"
            "<p>Hello preview</p>";
        server->serve("/page", Response::page(body));
        browser->Navigate(server->url("/page"));
        QTRY_COMPARE(browser->ReadyState(), kComplete);
        QTest::qWait(300);
        QCOMPARE(server->requests().size(), 1);
        QCOMPARE(browser->LocationName(), QString("x"));
        QVERIFY(browser->preview()->toPlainText().contains("Hello preview"));
        QVERIFY(browser->preview()->isReadOnly());
        // A plain document would read a local picture by itself; this one must not.
        QVERIFY(!browser->preview()
                     ->document()
                     ->resource(QTextDocument::ImageResource, QUrl::fromLocalFile(picture))
                     .isValid());
    }

    void hostileMarkupIsShownInReasonableTime_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("shows");
        QTest::newRow("nested tables")
            << "<title>10000</title>" + QByteArray("<table><tr><td>cell").repeated(40) << "cell";
        QTest::newRow("nested bold")
            << "<title>10000</title>" + QByteArray("<b>x").repeated(50000) << "xxx";
        QTest::newRow("one endless word")
            << "<title>10000</title>" + QByteArray(WebBrowser::kMaxBytes, 'w') << "www";
        QTest::newRow("endless line breaks")
            << "<title>10000</title>end" + QByteArray("<br>").repeated(200000) << "end";
        QTest::newRow("empty links")
            << "<title>10000</title>end" + QByteArray("<a href=/x></a>").repeated(60000) << "end";
        QTest::newRow("endless plain line") << QByteArray(WebBrowser::kMaxBytes, 'z') << "zzz";
    }
    void hostileMarkupIsShownInReasonableTime() {
        // Handed to rich-text layout as they stand, the first of these would take hours.
        QFETCH(QByteArray, body);
        QFETCH(QString, shows);
        server->serve(
            "/page", Response::page(body, body.startsWith("<title>") ? "text/html" : "text/plain"));
        QElapsedTimer clock;
        clock.start();
        browser->Navigate(server->url("/page"));
        QTRY_COMPARE_WITH_TIMEOUT(browser->ReadyState(), kComplete, testsupport::allowMs(15000));
        QVERIFY2(clock.elapsed() < testsupport::allowMs(15000),
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(browser->preview()->toPlainText().contains(shows));
        QVERIFY(!readsAsCommand(browser->LocationName()) ||
                browser->LocationName() == QString("10000"));
    }

    void followingALinkMovesThePreviewToThatPage() {
        server->serve("/page", Response::page("<title>00000</title><a href=\"other\">next</a>"));
        server->setTitle("/other", "10000");
        browser->Navigate(server->url("/page"));
        QTRY_COMPARE(browser->LocationName(), QString("00000"));
        Q_EMIT browser->preview()->anchorClicked(QUrl("other"));
        QTRY_COMPARE(browser->LocationName(), QString("10000"));
        QCOMPARE(browser->LocationURL(), server->url("/other"));
        browser->Refresh2();
        QTRY_COMPARE(server->hits("/other"), 2);
    }

    void linksFromWebPagesNeverLeadToLocalPages_data() {
        QTest::addColumn<bool>("fromWeb");  // the link is on a page from the server, else a file
        QTest::addColumn<QString>("link");  // "@file", "@web": the other page titled "10000"
        QTest::addColumn<bool>("followed");
        QTest::newRow("web to web") << true << "@web" << true;
        QTest::newRow("web to a relative path") << true << "/other" << true;
        QTest::newRow("web to a local file") << true << "@file" << false;
        QTest::newRow("web to a local file, scheme in capitals") << true << "@FILE" << false;
        QTest::newRow("web to a file on a host")
            << true << "file://127.0.0.1/etc/hostname" << false;
        QTest::newRow("web to a resource") << true << "qrc:/README.RTF" << false;
        QTest::newRow("web to data") << true << "data:text/html,<title>10000</title>" << false;
        QTest::newRow("web to a blank page") << true << "about:blank" << false;
        QTest::newRow("file to file") << false << "@file" << true;
        QTest::newRow("file to web") << false << "@web" << true;
    }
    void linksFromWebPagesNeverLeadToLocalPages() {
        QFETCH(bool, fromWeb);
        QFETCH(QString, link);
        QFETCH(bool, followed);
        QTemporaryDir dir;
        const auto write = [&dir](const char* name, const QByteArray& content) {
            QFile f(dir.filePath(QLatin1String(name)));
            f.open(QIODevice::WriteOnly);
            f.write(content);
            return QUrl::fromLocalFile(f.fileName()).toString();
        };
        const QString local = write("other.html", "<title>10000</title>");
        const QString start = write("start.html", "<title>00000</title>");
        server->setTitle("/page", "00000");
        server->setTitle("/other", "10000");
        link.replace("@file", local).replace("@FILE", "FILE" + local.mid(4));
        link.replace("@web", server->url("/other"));
        const QString from = fromWeb ? server->url("/page") : start;
        browser->Navigate(from);
        QTRY_COMPARE(browser->LocationName(), QString("00000"));

        Q_EMIT browser->preview()->anchorClicked(QUrl(link));
        if (followed) {
            QTRY_COMPARE(browser->LocationName(), QString("10000"));
            return;
        }
        QCOMPARE(browser->ReadyState(), kComplete);
        QTest::qWait(200);
        QCOMPARE(browser->LocationName(), QString("00000"));
        // A reload stays on the page the link was on.
        browser->Refresh2();
        QTRY_COMPARE(server->hits("/page"), 2);
        QTRY_COMPARE(browser->ReadyState(), kComplete);
        QCOMPARE(browser->LocationURL(), from);
    }

    void aRedirectNeverLeadsToALocalFile() {
        QTemporaryDir dir;
        QFile f(dir.filePath("local.html"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<title>10000</title><p>local secret</p>");
        f.close();
        server->serve("/jump", Response::redirect(QUrl::fromLocalFile(f.fileName()).toEncoded()));
        browser->Navigate(server->url("/jump"));
        QTRY_COMPARE(browser->ReadyState(), kComplete);
        QVERIFY2(browser->LocationName().startsWith("Page not loaded: "),
                 qPrintable(browser->LocationName()));
        QVERIFY(!browser->preview()->toPlainText().contains("local secret"));
    }

    void cookiesAreKeptInAStoreOfBoundedSize() {
        // Every load of the page sets 30 new cookies and one too large to keep.
        const int perLoad = 30;
        const int loads = 4;
        int served = 0;
        server->on("/page", [&](const testhttp::Request&) {
            Response r = Response::titled("00000");
            for (int i = 0; i < perLoad; ++i)
                r.with("Set-Cookie", "c" + QByteArray::number(served++) + "=v; Path=/");
            r.with("Set-Cookie",
                   "big=" + QByteArray(WebBrowser::kMaxCookieBytes, 'x') + "; Path=/");
            return r;
        });
        browser->Navigate(server->url("/page"));
        QTRY_COMPARE(browser->LocationName(), QString("00000"));
        for (int load = 1; load < loads; ++load) {
            browser->Refresh2();
            QTRY_COMPARE(server->hits("/page"), load + 1);
            QTRY_COMPARE(browser->ReadyState(), kComplete);
        }
        browser->Refresh2();
        QTRY_COMPARE(server->hits("/page"), loads + 1);
        QTRY_COMPARE(browser->ReadyState(), kComplete);

        const int offered = perLoad * loads;
        QSet<QByteArray> sent;
        for (const QByteArray& c : server->last("/page").header("Cookie").split(';'))
            sent.insert(c.trimmed());
        // The newest are kept, the oldest pushed out, the oversized one never taken.
        QCOMPARE(sent.size(), WebBrowser::kMaxCookies);
        for (int i = offered - WebBrowser::kMaxCookies; i < offered; ++i)
            QVERIFY2(sent.contains("c" + QByteArray::number(i) + "=v"),
                     qPrintable(QString::number(i)));
    }
};

QTEST_MAIN(TestWebBrowser)
#include "tst_webbrowser.moc"
