#include <QTextDocument>
#include <QtTest>

#include "platform/richtext/RichText.h"
#include "platform/text/Windows1252.h"
#include "platform/web/HtmlPage.h"

namespace html = platform::html;

// Both readers share one windows-1252 table but not its fallback: the web keeps a byte the code
// page leaves out, as browsers do, while a document shows it as damaged.
class TestWindows1252 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void eachReaderKeepsItsFallback_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("web");
        QTest::addColumn<int>("document");
        QTest::newRow("first of the range") << 0x80 << 0x20AC << 0x20AC;
        QTest::newRow("undefined") << 0x81 << 0x0081 << 0xFFFD;
        QTest::newRow("undefined, last") << 0x9D << 0x009D << 0xFFFD;
        QTest::newRow("last of the range") << 0x9F << 0x0178 << 0x0178;
        QTest::newRow("ascii") << 0x41 << 0x41 << 0x41;
        QTest::newRow("past the range") << 0xA0 << 0xA0 << 0xA0;
    }
    void eachReaderKeepsItsFallback() {
        QFETCH(int, byte);
        QFETCH(int, web);
        QFETCH(int, document);

        // The table itself says which bytes it has no character for.
        QCOMPARE(int(platform::windows1252Char(uchar(byte), u'?')), web == document ? web : '?');

        const QString asWeb{QChar(char16_t(web))};
        QCOMPARE(html::decodeDocument(QByteArray(1, char(byte)), "windows-1252", html::Kind::Html),
                 asWeb);
        // A page naming the byte by number means the code page's character too.
        QCOMPARE(html::decodeCharacterReferences(QStringLiteral("&#%1;").arg(byte)), asWeb);

        QTextDocument doc;
        QVERIFY(platform::readRtf("{\\rtf1\\ansi\\'" + QByteArray::number(byte, 16) + "}", &doc));
        QCOMPARE(doc.toRawText(), QString(QChar(char16_t(document))));
    }
};

QTEST_MAIN(TestWindows1252)
#include "tst_windows1252.moc"
