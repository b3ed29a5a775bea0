#include <QtTest>

#include "HostileHtml.h"
#include "platform/web/HtmlPage.h"
#include "platform/web/WebBrowser.h"
#include "support/TestSupport.h"

namespace html = platform::html;

namespace {

const qsizetype kMiB = 1024 * 1024;

}  // namespace

class TestHtmlPage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Where a browser's parser puts a <title> near SVG and MathML: a drawing's or a formula's own
    // title is never the page's, a self-closing element holds nothing, and elements that HTML
    // keeps for itself (or the points where SVG and MathML let HTML in) bring titles back.
    // "-": the page has no title.
    void titlesAroundDrawingsAndFormulas_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("title");
        const QString after = "</svg></math><title>0</title>";
        QTest::newRow("self-closing svg in the head") << "<head><svg/></head><title>10000</title>"
                                                      << "10000";
        QTest::newRow("self-closing math") << "<math/><title>10000</title>"
                                           << "10000";
        QTest::newRow("self-closing after a blank") << "<svg /><title>1</title>"
                                                    << "1";
        QTest::newRow("self-closing after a quoted value") << "<svg a=\"b\"/><title>1</title>"
                                                           << "1";
        QTest::newRow("slash then blank is not self-closing")
            << "<svg/ ><title>1</title></svg><title>0</title>"
            << "0";
        QTest::newRow("slash in an unquoted value is not self-closing")
            << "<svg viewBox=0/><title>1</title></svg><title>0</title>"
            << "0";
        QTest::newRow("title of a drawing") << "<svg><title>1</title></svg><title>0</title>"
                                            << "0";
        QTest::newRow("title of a formula") << "<math><title>1</title></math><title>0</title>"
                                            << "0";
        QTest::newRow("title deep in a drawing")
            << "<svg><g><title>1</title></g></svg><title>0</title>"
            << "0";
        QTest::newRow("upper case") << "<SVG><TITLE>1</TITLE></SVG><title>0</title>"
                                    << "0";
        QTest::newRow("only a drawing's title") << "<svg><title>1</title>"
                                                << "-";
        QTest::newRow("page title first") << "<title>0</title><svg><title>1</title>"
                                          << "0";
        QTest::newRow("closing the drawing closes what is in it")
            << "<svg><g></svg><title>1</title>"
            << "1";
        QTest::newRow("a paragraph ends the drawing") << "<svg><p><title>1</title>"
                                                      << "1";
        QTest::newRow("an end p ends the drawing") << "<svg></p><title>1</title>"
                                                   << "1";
        QTest::newRow("font with colour ends the drawing")
            << "<svg><font color=red><title>1</title>"
            << "1";
        QTest::newRow("plain font stays in the drawing")
            << "<svg><font><title>1</title></font></svg><title>0</title>"
            << "0";
        QTest::newRow("HTML inside foreignObject")
            << "<svg><foreignObject><title>1</title></foreignObject>" + after << "1";
        QTest::newRow("HTML inside desc") << "<svg><desc><title>1</title></desc>" + after << "1";
        QTest::newRow("self-closing svg inside foreignObject")
            << "<svg><foreignObject><svg/><title>1</title>"
            << "1";
        QTest::newRow("HTML inside mi") << "<math><mi><title>1</title></mi>" + after << "1";
        QTest::newRow("mglyph inside mi stays MathML")
            << "<math><mi><mglyph><title>1</title></mglyph></mi>" + after << "0";
        QTest::newRow("annotation-xml holding HTML")
            << "<math><annotation-xml encoding=\"Text/HTML\"><title>1</title></annotation-xml>" +
                   after
            << "1";
        QTest::newRow("annotation-xml holding MathML")
            << "<math><annotation-xml><title>1</title></annotation-xml>" + after << "0";
        QTest::newRow("svg inside annotation-xml")
            << "<math><annotation-xml><svg><title>1</title></svg></annotation-xml>" + after << "0";
        QTest::newRow("script of a drawing is markup")
            << "<svg><script><title>1</title></script></svg><title>0</title>"
            << "0";
        QTest::newRow("style of a drawing is markup") << "<svg><style></svg><title>1</title>"
                                                      << "1";
        QTest::newRow("character data in a drawing")
            << "<svg><![CDATA[</svg><title>1</title>]]></svg><title>0</title>"
            << "0";
        QTest::newRow("character data outside is a bogus comment")
            << "<p><![CDATA[</p>]]><title>1</title>"
            << "1";
        QTest::newRow("self-closing svg in a template")
            << "<template><svg/><title>1</title></template><title>0</title>"
            << "0";
    }
    void titlesAroundDrawingsAndFormulas() {
        QFETCH(QString, page);
        QFETCH(QString, title);
        bool found = false;
        const QString read = html::documentTitle(page, &found);
        QCOMPARE(found ? read : QStringLiteral("-"), title);
    }

    void aSelfClosingDrawingHidesNothingFromThePreview() {
        QVERIFY(html::previewHtml(u"<svg/><p>visible</p>", 1000).contains("visible"));
    }

    void hostilePagesAreReadInTimeLinearInTheirSize_data() {
        QTest::addColumn<int>("shape");
        const QList<hostilehtml::Shape> shapes = hostilehtml::shapes();
        for (int i = 0; i < shapes.size(); ++i)
            QTest::newRow(shapes[i].name) << i;
    }
    void hostilePagesAreReadInTimeLinearInTheirSize() {
        // Each read is well under 50 ms here (bench/page_reading); these bounds only catch a
        // return to time that grows with the square of the page, which took 47 s for one MiB
        // of comments.
        QFETCH(int, shape);
        const hostilehtml::Shape s = hostilehtml::shapes()[shape];
        const QString small = s.page(kMiB);
        const QString large = s.page(4 * kMiB);

        bool found = false;
        const QString title = html::documentTitle(small, &found);
        const QString wanted = s.title(kMiB);
        QCOMPARE(found, !wanted.isNull());
        QCOMPARE(title.size(), wanted.size());
        QVERIFY(title == wanted);

        for (const bool preview : {false, true}) {
            const auto read = [preview](const QString& page) {
                return qint64(hostilehtml::quickestMs(2, [&] {
                    if (preview)
                        html::previewHtml(page, platform::WebBrowser::kPreviewChars);
                    else
                        html::documentTitle(page);
                }));
            };
            const qint64 smallMs = read(small);
            const qint64 largeMs = read(large);
            qInfo("%s, %s: 1 MiB %lld ms, 4 MiB %lld ms", s.name, preview ? "preview" : "title",
                  smallMs, largeMs);
            QVERIFY2(largeMs < testsupport::allowMs(4000), qPrintable(QString::number(largeMs)));
            // Four times the page: about four times the time, sixteen if it were quadratic.
            // Short times are mostly noise and are not compared.
            if (largeMs >= testsupport::allowMs(60))
                QVERIFY2(largeMs < 10 * qMax<qint64>(smallMs, 1),
                         qPrintable(QStringLiteral("%1 ms, then %2 ms").arg(smallMs).arg(largeMs)));
        }
    }

    void thePreviewStaysSmallWhateverThePage_data() {
        hostilePagesAreReadInTimeLinearInTheirSize_data();
    }
    void thePreviewStaysSmallWhateverThePage() {
        // What the preview is given is laid out by rich text next: it must stay in proportion to
        // its text budget, not to the page's markup.
        QFETCH(int, shape);
        const QString page = hostilehtml::shapes()[shape].page(kMiB);
        const qsizetype budget = 1000;
        const QString preview = html::previewHtml(page, budget);
        QVERIFY2(preview.size() < 20 * budget + 8192, qPrintable(QString::number(preview.size())));
    }
};

QTEST_MAIN(TestHtmlPage)
#include "tst_htmlpage.moc"
