// libFuzzer target for reading a fetched page: from the bytes and the Content-Type the server
// sent to the document's title, which the internet poller switches device 1 by, and to the
// preview the internet settings window shows. Not part of the normal build; see docs/fuzzing.md.
//
// Input: the first byte picks the address the page came from (its extension decides the kind of
// document when there is no media type), the rest up to the first line feed is the Content-Type
// value, the remainder is the body. The steps are those the page loader takes when a page
// arrives, each one from the program's own code.
//
// Besides crashes and sanitizer reports, a run stops when:
//  - a title holds a NUL, or a page without a <title> element has one;
//  - a title does not survive being written into a page of its own: the title comes out of the
//    markup exactly, references decoded and every blank kept where it was (the poller compares
//    it character for character), and nothing else of the page leaks into it;
//  - a title begins with "1" or "0" (a command to the poller) without the page holding a title
//    element at all;
//  - a decoded document read again behind a UTF-8 or UTF-16 byte order mark reads differently
//    (the mark must win over any charset the server or a <meta> names);
//  - the preview, read back as rich text (one small input in eight), holds a picture, a table or a
//  frame (the page's own
//    markup got through) or more text than its budget.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QByteArray>
#include <QByteArrayView>
#include <QGuiApplication>
#include <QHash>
#include <QString>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextFrame>
#include <QUrl>

#include "FuzzSupport.h"
#include "platform/web/HtmlPage.h"

namespace html = platform::html;

namespace {

const char* const kAddresses[] = {
    "http://127.0.0.1/",          "http://127.0.0.1/page.html", "http://127.0.0.1/page.htm",
    "http://127.0.0.1/page.txt",  "file:///tmp/page.xhtml",     "file:///tmp/page",
    "http://127.0.0.1/page.JSON", "http://127.0.0.1/a.shtml?x",
};

constexpr qsizetype kPreviewBudget = 200;

[[noreturn]] void fail(const char* what, const QString& detail = QString()) {
    std::fprintf(stderr, "FINDING: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  detail: %s\n", detail.toUtf8().constData());
    std::abort();
}

void checkTitleShape(const QString& title) {
    if (title.contains(QChar(0)))
        fail("title keeps a NUL", title);
}

// A title written into a page of its own, escaped as any page would, must come back unchanged.
void checkTitleRoundTrip(const QString& title) {
    const QString page = QStringLiteral("<html><head><title>") + title.toHtmlEscaped() +
                         QStringLiteral("</title></head><body><title>2</title></body></html>");
    bool found = false;
    const QString again = html::documentTitle(page, &found);
    if (!found || again != title)
        fail("title does not survive a page of its own", title + QStringLiteral(" -> ") + again);
}

// A byte order mark decides the encoding whatever the server or the page declares.
void checkByteOrderMark(const QString& text, const QByteArray& headerCharset, html::Kind kind) {
    if (!text.isValidUtf16())
        return;  // lone surrogates have no UTF-8 or UTF-16 bytes to be read back from
    const QByteArray utf8 = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    QByteArray used;
    if (html::decodeDocument(utf8, headerCharset, kind, &used) != text || used != "utf-8")
        fail("UTF-8 byte order mark does not win", QString::fromLatin1(headerCharset));
    QByteArray utf16("\xFF\xFE");
    for (QChar c : text) {
        utf16.append(char(c.unicode() & 0xFF));
        utf16.append(char(c.unicode() >> 8));
    }
    if (html::decodeDocument(utf16, headerCharset, kind, &used) != text || used != "utf-16le")
        fail("UTF-16 byte order mark does not win", QString::fromLatin1(headerCharset));
}

// The preview is the page's text with plain formatting only: nothing that could be fetched or
// laid out at length, and no more text than it was given room for.
void checkPreview(const QString& preview) {
    QTextDocument document;
    document.setHtml(preview);
    if (!document.rootFrame()->childFrames().isEmpty())
        fail("preview holds a table or frame", preview);
    qsizetype visible = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.textList())
            fail("preview holds a list", preview);
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isImageFormat())
                fail("preview holds a picture", preview);
            for (QChar c : fragment.text())
                if (!c.isSpace() && c != QChar(0x200B))
                    ++visible;
        }
    }
    static const qsizetype kNotice =
        QStringLiteral("(the rest of the page is not shown)").size() + 1;
    if (visible > kPreviewBudget + kNotice)
        fail("preview longer than its budget", preview);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzsupport::startQt<QGuiApplication>(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QUrl address(QString::fromLatin1(kAddresses[data[0] % std::size(kAddresses)]));
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const qsizetype lineEnd = rest.indexOf('\n');
    const QByteArray contentType = lineEnd < 0 ? QByteArray() : rest.left(lineEnd);
    const QByteArray body = lineEnd < 0 ? rest : rest.mid(lineEnd + 1);

    // What the page loader does with a page that arrived.
    const html::Kind kind = html::kindOf(contentType, address, body);
    QString text;
    QByteArray used;
    const QByteArray headerCharset = html::charsetParameter(contentType);
    if (kind != html::Kind::Binary)
        text = html::decodeDocument(body, headerCharset, kind, &used);
    bool found = false;
    const QString title = kind == html::Kind::Html ? html::documentTitle(text, &found) : QString();

    if (kind != html::Kind::Binary && used.isEmpty())
        fail("no encoding named for a decoded page");
    if (!found && !title.isEmpty())
        fail("a title without a title element", title);
    checkTitleShape(title);
    checkTitleRoundTrip(title);
    if ((title.startsWith(u'1') || title.startsWith(u'0')) &&
        !text.contains(QLatin1String("<title"), Qt::CaseInsensitive))
        fail("a command title from a page without a title element", title);
    if (kind != html::Kind::Binary)
        checkByteOrderMark(text, headerCharset, kind);

    if (kind == html::Kind::Binary)
        return 0;
    const QString preview = kind == html::Kind::Html ? html::previewHtml(text, kPreviewBudget)
                                                     : html::previewText(text, kPreviewBudget);
    // Qt's rich-text reader costs more than everything else here together: small pages show the
    // same faults as large ones, and one in eight of them (by a hash of their bytes, so that the
    // fuzzer cannot crowd the corpus with them) is read back.
    if (size < 512 && qHash(QByteArrayView(data, qsizetype(size))) % 8 == 0)
        checkPreview(preview);
    return 0;
}
