// Time to read a hostile page of 1 MiB the way the page loader reads one that arrived: its
// bytes decoded and its title found ("title"), and the text the preview shows made from it
// ("preview"). Every shape of tests/platform/web/HostileHtml.h is measured.
//
//   page_reading [runs] [MiB]      (defaults: 5 runs, 1 MiB; the quickest run counts)
//
// Target: each read at most 50 ms. The rich-text layout of the preview that follows is Qt's and
// is shown for information only ("layout").

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QTextDocument>

#include "../tests/platform/web/HostileHtml.h"
#include "platform/web/HtmlPage.h"
#include "platform/web/WebBrowser.h"

namespace html = platform::html;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, std::atoi(argv[1])) : 5;
    const qsizetype mib = argc > 2 ? qMax(1, std::atoi(argv[2])) : 1;
    const double targetMs = 50.0;

    std::printf("%-32s %10s %10s %10s   %s\n", "page", "title ms", "preview ms", "layout ms",
                "target");
    bool allMet = true;
    for (const hostilehtml::Shape& s : hostilehtml::shapes()) {
        const QByteArray bytes = s.page(mib * 1024 * 1024).toUtf8();
        const double titleMs = hostilehtml::quickestMs(runs, [&] {
            const QString text = html::decodeDocument(bytes, "utf-8", html::Kind::Html);
            html::documentTitle(text);
        });
        const QString text = html::decodeDocument(bytes, "utf-8", html::Kind::Html);
        QString preview;
        const double previewMs = hostilehtml::quickestMs(
            runs, [&] { preview = html::previewHtml(text, platform::WebBrowser::kPreviewChars); });
        const double layoutMs = hostilehtml::quickestMs(1, [&] {
            QTextDocument document;
            document.setHtml(preview);
        });
        const bool met = titleMs <= targetMs && previewMs <= targetMs;
        allMet = allMet && met;
        std::printf("%-32s %10.1f %10.1f %10.1f   %s\n", s.name, titleMs, previewMs, layoutMs,
                    met ? "met" : "MISSED");
    }
    std::printf("target: title and preview each at most %.0f ms for %lld MiB: %s\n", targetMs,
                static_cast<long long>(mib), allMet ? "met" : "MISSED");
    return allMet ? 0 : 1;
}
