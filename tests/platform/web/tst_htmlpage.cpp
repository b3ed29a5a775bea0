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
