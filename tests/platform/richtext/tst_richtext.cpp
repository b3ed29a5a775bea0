#include <sys/resource.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QtTest>

#include "platform/Errors.h"
#include "platform/richtext/RichText.h"
#include "platform/richtext/RichTextBox.h"
#include "support/TestSupport.h"

namespace {

QString plain(const QByteArray& rtf) {
    QTextDocument doc;
    platform::readRtf(rtf, &doc);
    return doc.toPlainText();
}

// The format of the character at `pos`.
QTextCharFormat formatAt(QTextDocument& doc, int pos) {
    QTextCursor c(&doc);
    c.setPosition(pos + 1);
    return c.charFormat();
}

// The format of `text` in the document, which must carry one format throughout.
QTextCharFormat formatOf(QTextDocument& doc, const QString& text) {
    const QTextCursor found = doc.find(text, 0, QTextDocument::FindCaseSensitively);
    if (found.isNull()) {
        qWarning() << "not found:" << text;
        return QTextCharFormat();
    }
    const QTextCharFormat first = formatAt(doc, found.selectionStart());
    for (int p = found.selectionStart() + 1; p < found.selectionEnd(); ++p)
        if (formatAt(doc, p) != first) {
            qWarning() << "format changes inside" << text;
            return QTextCharFormat();
        }
    return first;
}

QTextBlock blockWith(QTextDocument& doc, const QString& text) {
    return doc.find(text, 0, QTextDocument::FindCaseSensitively).block();
}

QStringList blockTexts(const QTextDocument& doc) {
    QStringList texts;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        texts << b.text();
    while (!texts.isEmpty() && texts.last().isEmpty())
        texts.removeLast();
    return texts;
}

QString fixture(const char* name) {
    return QFINDTESTDATA(QStringLiteral("fixtures/%1").arg(QLatin1String(name)));
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Words made of Latin-1 letters and digits. unrtf writes 8-bit text and a "?" for anything it
// cannot map, so only these can be compared character for character.
QStringList latinWords(const QString& text) {
    QStringList words;
    QString word;
    for (QChar ch : text) {
        if (ch.unicode() <= 0xFF && ch.isLetterOrNumber()) {
            word += ch;
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty())
        words << word;
    return words;
}

long peakRssKb() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_maxrss;
}

}  // namespace

class TestRichText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // ---- what is and is not RTF ---------------------------------------------------------

    void onlyDataBeginningWithTheRtfSignatureIsRead_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("rtf");
        QTest::newRow("rtf") << QByteArray("{\\rtf1 text}") << true;
        QTest::newRow("signature only") << QByteArray("{\\rtf") << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("plain text") << QByteArray("Just some text") << false;
        QTest::newRow("blank first") << QByteArray(" {\\rtf1 text}") << false;
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF{\\rtf1 text}") << false;
        QTest::newRow("upper case") << QByteArray("{\\RTF1 text}") << false;
        QTest::newRow("cut signature") << QByteArray("{\\rt") << false;
        QTest::newRow("html") << QByteArray("<html><body>{\\rtf1}</body></html>") << false;
    }
    void onlyDataBeginningWithTheRtfSignatureIsRead() {
        QFETCH(QByteArray, data);
        QFETCH(bool, rtf);
        QTextDocument doc;
        doc.setPlainText(QStringLiteral("previous"));
        QCOMPARE(platform::looksLikeRtf(data), rtf);
        QCOMPARE(platform::readRtf(data, &doc), rtf);
        if (!rtf)
            QVERIFY(doc.isEmpty());
    }

    // ---- text ---------------------------------------------------------------------------

    void readsTheText_data() {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");
        QTest::newRow("escaped symbols") << QByteArray("{\\rtf1 a\\{b\\}c\\\\d}") << "a{b}c\\d";
        QTest::newRow("breaks") << QByteArray("{\\rtf1 one\\par two\\line three\\tab four}")
                                << "one\ntwo\nthree\tfour";
        QTest::newRow("backslash newline is a paragraph")
            << QByteArray("{\\rtf1 one\\\ntwo\\\r\nthree}") << "one\ntwo\nthree";
        QTest::newRow("line ends in the file are not text")
            << QByteArray("{\\rtf1 one\r\ntwo\nthree}") << "onetwothree";
        QTest::newRow("one blank ends a control word")
            << QByteArray("{\\rtf1\\b bold\\b0  plain}") << "bold plain";
        QTest::newRow("numbers end a control word") << QByteArray("{\\rtf1\\fs20x\\fs-4y}") << "xy";
        QTest::newRow("unknown words") << QByteArray("{\\rtf1\\foo12 x\\bar-3 y\\baz z}") << "xyz";
        QTest::newRow("overlong word")
            << QByteArray("{\\rtf1 a\\") + QByteArray(100, 'q') + QByteArray("12 b}") << "ab";
        QTest::newRow("hex in 1252") << QByteArray("{\\rtf1 caf\\'e9 \\'80 \\'93q\\'94 \\'8a}")
                                     << QString::fromUtf8("café € “q” Š");
        QTest::newRow("raw 8-bit in 1252")
            << QByteArray("{\\rtf1 caf\xe9 \x80}") << QString::fromUtf8("café €");
        QTest::newRow("ansicpg 1251") << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}")
                                      << QString::fromUtf8("При");
        QTest::newRow("ansicpg 1253")
            << QByteArray("{\\rtf1\\ansi\\ansicpg1253 \\'e1\\'e2}") << QString::fromUtf8("αβ");
        QTest::newRow("unknown code page reads as 1252")
            << QByteArray("{\\rtf1\\ansicpg4242 \\'e9}") << QString::fromUtf8("é");
        QTest::newRow("mac") << QByteArray("{\\rtf1\\mac \\'8e}") << QString::fromUtf8("é");
        QTest::newRow("font character set")
            << QByteArray(
                   "{\\rtf1{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset204 Arial Cyr;}}\\f0 \\'e9\\f1 "
                   "\\'cf}")
            << QString::fromUtf8("éП");
        QTest::newRow("double-byte code page")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0\\fcharset128 MS Gothic;}}\\f0 \\'93\\'fa}")
            << QString::fromUtf8("日");
        QTest::newRow("unicode with fallback") << QByteArray("{\\rtf1 \\u233?x}") << "\u00e9x";
        QTest::newRow("fallback of hex bytes")
            << QByteArray("{\\rtf1\\uc2 \\u8364\\'80\\'80x}") << QString::fromUtf8("€x");
        QTest::newRow("no fallback")
            << QByteArray("{\\rtf1\\uc0 \\u8364 x}") << QString::fromUtf8("€x");
        QTest::newRow("fallback counts a control word")
            << QByteArray("{\\rtf1 \\u8226\\bullet x}") << QString::fromUtf8("•x");
        QTest::newRow("fallback count is kept by the group")
            << QByteArray("{\\rtf1{\\uc0 \\u233}\\u233?}") << QString::fromUtf8("éé");
        QTest::newRow("fallback skipping stops at a brace")
            << QByteArray("{\\rtf1\\uc3 \\u233{x}y}") << QString::fromUtf8("éxy");
        QTest::newRow("negative code units")
            << QByteArray("{\\rtf1 \\u-4064?}") << QString::fromUtf8("\uf020");
        QTest::newRow("surrogate pair")
            << QByteArray("{\\rtf1 \\u-10179?\\u-8638?}") << QString::fromUtf8("🙂");
        QTest::newRow("half a surrogate pair")
            << QByteArray("{\\rtf1 \\u-10179?a\\u-8638?b}") << QString::fromUtf8("\uFFFDa\uFFFDb");
        QTest::newRow("special characters")
            << QByteArray(
                   "{\\rtf1 \\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote x\\~y\\_"
                   "z}")
            << QString::fromUtf8("—–•‘’“”x y\u2011z");
        QTest::newRow("optional hyphen is not shown") << QByteArray("{\\rtf1 ab\\-cd}") << "abcd";
        QTest::newRow("control characters are dropped")
            << QByteArray("{\\rtf1 a\\'01\\'00\x01\x7f\\u7?\\u133?b}") << "ab";
        QTest::newRow("hidden text") << QByteArray("{\\rtf1 a{\\v hidden}b\\v c\\v0 d}") << "abd";
        QTest::newRow("skipped destinations")
            << QByteArray(
                   "{\\rtf1{\\info{\\title T}{\\author A}}{\\*\\foo bar}{\\pict\\pngblip 0102}"
                   "{\\object x{\\objdata 01}}{\\stylesheet{\\s0 Normal;}}{\\header H}{\\footer F}"
                   "{\\*\\generator G}{\\listtable{\\list x}}{\\field{\\*\\fldinst HYPERLINK "
                   "\"u\"}{\\fldrslt link}} text}")
            << "link text";
        QTest::newRow("unknown starred destination with groups")
            << QByteArray("{\\rtf1 a{\\*\\unknown b{c}{\\par d}e}f}") << "af";
        QTest::newRow("binary data") << QByteArray("{\\rtf1 a\\bin4 {}\\}b}") << "ab";
        QTest::newRow("binary data in a picture")
            << QByteArray("{\\rtf1 a{\\pict\\bin3 }}}}b}") << "ab";
        QTest::newRow("list labels") << QByteArray("{\\rtf1{\\listtext \\u8226\\'95\\tab}Item}")
                                     << QString::fromUtf8("•\tItem");
        QTest::newRow("table row")
            << QByteArray(
                   "{\\rtf1\\trowd\\cellx1000\\cellx2000\\pard\\intbl A\\cell B\\cell\\row\\pard "
                   "after}")
            << "A\tB\nafter";
        QTest::newRow("empty cells")
            << QByteArray("{\\rtf1\\trowd\\intbl\\cell\\cell C\\cell\\row}") << "\t\tC\n";
        QTest::newRow("nothing after the document") << QByteArray("{\\rtf1 a}b{c}") << "a";
        QTest::newRow("font names are not text")
            << QByteArray(
                   "{\\rtf1{\\fonttbl{\\f0\\fswiss{\\*\\panose 0}Arial{\\*\\falt Helv};}}"
                   "{\\colortbl;\\red1\\green2\\blue3;}x}")
            << "x";
    }
    void readsTheText() {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        QCOMPARE(plain(rtf), text);
    }

    // ---- character formats --------------------------------------------------------------

    void readsCharacterFormats() {
        QTextDocument doc;
        platform::readRtf(
            "{\\rtf1\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fmodern Courier New;}}"
            "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
            "n{\\b b}{\\i i}{\\ul u}{\\uldb w}{\\strike s}{\\f1 m}{\\cf1 r}{\\highlight2 h}"
            "{\\chcbpat1 k}{\\fs48 L}{\\super 2}{\\sub 3}{\\b\\i\\plain p}"
            "{\\b\\b0 o}{\\ul\\ulnone q}{\\ul\\ul0 x}{\\cf0 z}{\\cf99 y}}",
            &doc);
        QCOMPARE(doc.toPlainText(), QString("nbiuwsmrhkL23poqxzy"));
        auto at = [&doc](QChar c) { return formatAt(doc, doc.toPlainText().indexOf(c)); };

        const QTextCharFormat n = at('n');
        QCOMPARE(n.fontWeight(), int(QFont::Normal));
        QVERIFY(!n.fontItalic() && !n.fontUnderline() && !n.fontStrikeOut());
        QCOMPARE(n.fontPointSize(), 12.0);
        QCOMPARE(n.fontFamilies().toStringList(), QStringList{"Arial"});
        QVERIFY(!n.hasProperty(QTextFormat::ForegroundBrush));
        QVERIFY(!n.hasProperty(QTextFormat::BackgroundBrush));

        QCOMPARE(at('b').fontWeight(), int(QFont::Bold));
        QVERIFY(at('i').fontItalic());
        QVERIFY(at('u').fontUnderline());
        QVERIFY(at('w').fontUnderline());
        QVERIFY(at('s').fontStrikeOut());
        QCOMPARE(at('m').fontFamilies().toStringList(), QStringList{"Courier New"});
        QCOMPARE(at('r').foreground().color(), QColor(255, 0, 0));
        QCOMPARE(at('h').background().color(), QColor(0, 0, 255));
        QCOMPARE(at('k').background().color(), QColor(255, 0, 0));
        QCOMPARE(at('L').fontPointSize(), 24.0);
        QCOMPARE(at('2').verticalAlignment(), QTextCharFormat::AlignSuperScript);
        QCOMPARE(at('3').verticalAlignment(), QTextCharFormat::AlignSubScript);

        const QTextCharFormat p = at('p');
        QCOMPARE(p.fontWeight(), int(QFont::Normal));
        QVERIFY(!p.fontItalic());
        QCOMPARE(p.fontPointSize(), 12.0);
        QCOMPARE(at('o').fontWeight(), int(QFont::Normal));
        QVERIFY(!at('q').fontUnderline());
        QVERIFY(!at('x').fontUnderline());
        // Index 0 is the table's empty "automatic" entry; 99 is not in the table at all.
        QVERIFY(!at('z').hasProperty(QTextFormat::ForegroundBrush));
        QVERIFY(!at('y').hasProperty(QTextFormat::ForegroundBrush));
    }

    void aGroupEndRestoresTheFormatBeforeIt() {
        QTextDocument doc;
        platform::readRtf("{\\rtf1 a{\\b b{\\i c}d}e}", &doc);
        QCOMPARE(doc.toPlainText(), QString("abcde"));
        QCOMPARE(formatAt(doc, 1).fontWeight(), int(QFont::Bold));
        QVERIFY(formatAt(doc, 2).fontItalic());
        QCOMPARE(formatAt(doc, 2).fontWeight(), int(QFont::Bold));
        QVERIFY(!formatAt(doc, 3).fontItalic());
        QCOMPARE(formatAt(doc, 3).fontWeight(), int(QFont::Bold));
        QCOMPARE(formatAt(doc, 4).fontWeight(), int(QFont::Normal));
    }

    void fontSizesAreHeldToASaneRange_data() {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<double>("points");
        QTest::newRow("normal") << QByteArray("\\fs21") << 10.5;
        QTest::newRow("huge") << QByteArray("\\fs99999999999999999999") << 288.0;
        QTest::newRow("tiny") << QByteArray("\\fs1") << 2.0;
        QTest::newRow("zero") << QByteArray("\\fs0") << 12.0;
        QTest::newRow("negative") << QByteArray("\\fs-40") << 12.0;
        QTest::newRow("no number") << QByteArray("\\fs20\\fs") << 12.0;
    }
    void fontSizesAreHeldToASaneRange() {
        QFETCH(QByteArray, word);
        QFETCH(double, points);
        QTextDocument doc;
        platform::readRtf("{\\rtf1" + word + " a}", &doc);
        QCOMPARE(formatAt(doc, 0).fontPointSize(), points);
    }

    void extremeSizesLayOutWithoutComplaint() {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        QTextDocument doc;
        platform::readRtf("{\\rtf1\\fs1\\super a\\sub b\\fs99999\\nosupersub c}", &doc);
        QVERIFY(doc.size().height() > 0);
    }

    // ---- paragraphs ---------------------------------------------------------------------

    void readsParagraphFormats() {
        QTextDocument doc;
        platform::readRtf(
            "{\\rtf1\\pard\\qc centre\\par\\pard\\qr right\\par\\pard\\qj justified\\par"
            "\\pard\\li720\\ri360\\fi-360\\sb120\\sa240 indented\\par"
            "\\pard\\tx1440\\tx720 tabs\\par\\pard plain\\par"
            "\\pard\\li99999999999\\fi-99999999999\\sb-5 clamped}",
            &doc);
        QCOMPARE(blockTexts(doc), (QStringList{"centre", "right", "justified", "indented", "tabs",
                                               "plain", "clamped"}));
        QCOMPARE(blockWith(doc, "centre").blockFormat().alignment(), Qt::AlignHCenter);
        QCOMPARE(blockWith(doc, "right").blockFormat().alignment(), Qt::AlignRight);
        QCOMPARE(blockWith(doc, "justified").blockFormat().alignment(), Qt::AlignJustify);
        const QTextBlockFormat indented = blockWith(doc, "indented").blockFormat();
        QCOMPARE(indented.leftMargin(), 48.0);
        QCOMPARE(indented.rightMargin(), 24.0);
        QCOMPARE(indented.textIndent(), -24.0);
        QCOMPARE(indented.topMargin(), 8.0);
        QCOMPARE(indented.bottomMargin(), 16.0);
        const QList<QTextOption::Tab> tabs = blockWith(doc, "tabs").blockFormat().tabPositions();
        QCOMPARE(tabs.size(), 2);
        QCOMPARE(tabs[0].position, 48.0);
        QCOMPARE(tabs[1].position, 96.0);
        const QTextBlockFormat plainFormat = blockWith(doc, "plain").blockFormat();
        QCOMPARE(plainFormat.alignment(), Qt::AlignLeft);
        QCOMPARE(plainFormat.leftMargin(), 0.0);
        QVERIFY(plainFormat.tabPositions().isEmpty());
        const QTextBlockFormat clamped = blockWith(doc, "clamped").blockFormat();
        QCOMPARE(clamped.leftMargin(), 31680.0 / 15);
        QCOMPARE(clamped.textIndent(), -31680.0 / 15);
        QCOMPARE(clamped.topMargin(), 0.0);
    }

    void theLastParagraphKeepsItsFormatWithoutAClosingPar() {
        QTextDocument doc;
        platform::readRtf("{\\rtf1\\qc centred}", &doc);
        QCOMPARE(doc.begin().blockFormat().alignment(), Qt::AlignHCenter);
    }

    void aTableRowIsOneParagraphWithTabsAtTheCellEdges() {
        QTextDocument doc;
        platform::readRtf(
            "{\\rtf1\\trowd\\cellx1500\\cellx3000\\cellx4500\\pard\\intbl one\\par two\\cell "
            "x\\cell y\\cell\\row\\pard after}",
            &doc);
        QCOMPARE(blockTexts(doc), (QStringList{QString("one\u2028two\tx\ty"), "after"}));
        const QList<QTextOption::Tab> tabs = doc.begin().blockFormat().tabPositions();
        QCOMPARE(tabs.size(), 2);
        QCOMPARE(tabs[0].position, 100.0);
        QCOMPARE(tabs[1].position, 200.0);
        QVERIFY(doc.begin().next().blockFormat().tabPositions().isEmpty());
    }

    // ---- documents written by a word processor ------------------------------------------

    void readsADocumentWithStylesListsATableAndAPicture() {
        QTextDocument doc;
        platform::loadRtfFile(fixture("styles.rtf"), &doc);
        QCOMPARE(blockTexts(doc),
                 (QStringList{
                     "Garden controller notes",
                     "This paragraph has bold words, italic words, bold italic words, underlined "
                     "words and struck words.",
                     "Colours: red text and highlighted text; sizes: large text; fonts: mono text.",
                     QString::fromUtf8("Accents: café crème, naïve façade, Ærøskøbing, Straße, "
                                       "Zürich, señor, déjà vu, 20 € each."),
                     QString::fromUtf8(" •\tFirst bullet"), QString::fromUtf8(" •\tSecond bullet"),
                     " 1.\tStep one", " 2.\tStep two", " 3.\tStep three", "Device\tOn\tOff",
                     "Pump\ta\tb", "Lamp\tc\td",
                     // The picture between the two blanks is skipped.
                     "Before the picture  after the picture.", "The end."}));

        const QTextCharFormat heading = formatOf(doc, "Garden controller notes");
        QCOMPARE(heading.fontWeight(), int(QFont::Bold));
        QCOMPARE(heading.fontPointSize(), 16.0);
        QCOMPARE(blockWith(doc, "Garden").blockFormat().alignment(), Qt::AlignHCenter);

        const QTextCharFormat body = formatOf(doc, "This paragraph has ");
        QCOMPARE(body.fontWeight(), int(QFont::Normal));
        QCOMPARE(body.fontPointSize(), 12.0);
        QCOMPARE(body.fontFamilies().toStringList(), QStringList{"Liberation Serif"});
        QCOMPARE(formatOf(doc, "bold words").fontWeight(), int(QFont::Bold));
        QVERIFY(!formatOf(doc, "bold words").fontItalic());
        QVERIFY(formatOf(doc, "italic words").fontItalic());
        QCOMPARE(formatOf(doc, "bold italic words").fontWeight(), int(QFont::Bold));
        QVERIFY(formatOf(doc, "bold italic words").fontItalic());
        QVERIFY(formatOf(doc, "underlined words").fontUnderline());
        QVERIFY(formatOf(doc, "struck words").fontStrikeOut());
        QCOMPARE(formatOf(doc, "red text").foreground().color(), QColor("#c9211e"));
        QCOMPARE(formatOf(doc, "highlighted text").background().color(), QColor("#ffff00"));
        QCOMPARE(formatOf(doc, "large text").fontPointSize(), 20.0);
        QCOMPARE(formatOf(doc, "mono text").fontFamilies().toStringList(),
                 QStringList{"Liberation Mono"});

        const QTextBlockFormat item = blockWith(doc, "First bullet").blockFormat();
        QCOMPARE(item.leftMargin(), 48.0);
        QCOMPARE(item.textIndent(), -24.0);
        const QList<QTextOption::Tab> cells = blockWith(doc, "Pump").blockFormat().tabPositions();
        QCOMPARE(cells.size(), 2);
        QCOMPARE(cells[0].position, 3213 / 15.0);
        QCOMPARE(cells[1].position, 6425 / 15.0);
    }

    void readsADocumentInManyScripts() {
        QTextDocument doc;
        platform::loadRtfFile(fixture("international.rtf"), &doc);
        QCOMPARE(blockTexts(doc),
                 (QStringList{
                     QString::fromUtf8("Greek: Καλημέρα κόσμε. Russian: Привет, мир. Polish: "
                                       "Zażółć gęślą jaźń."),
                     QString::fromUtf8("Quotes “double” and ‘single’, dashes – and —, "
                                       "ellipsis…\u2028second line after a break\tafter a tab."),
                     "Right aligned bold nested paragraph.",
                     // The footnote's body and the page header are not body text.
                     "Justified and indented paragraph with a footnote and a link to the site.",
                     QString::fromUtf8("Symbols: 10 °C, ± 5, ½ cup, © 2026, ™ mark, § 4."),
                     QString::fromUtf8("Emoji outside the basic plane: 🙂 done.")}));
        QVERIFY(doc.find("Running header").isNull());
        QVERIFY(doc.find("Footnote body").isNull());
        QVERIFY(doc.find("HYPERLINK").isNull());

        QCOMPARE(blockWith(doc, "Right aligned").blockFormat().alignment(), Qt::AlignRight);
        const QTextBlockFormat justified = blockWith(doc, "Justified").blockFormat();
        QCOMPARE(justified.alignment(), Qt::AlignJustify);
        QCOMPARE(justified.leftMargin(), 567 / 15.0);
        const QTextCharFormat nested = formatOf(doc, "nested");
        QCOMPARE(nested.fontWeight(), int(QFont::Bold));
        QVERIFY(nested.fontItalic());
        QCOMPARE(nested.foreground().color(), QColor("#2a6099"));
        QCOMPARE(formatOf(doc, "bold ").fontWeight(), int(QFont::Bold));
        QVERIFY(!formatOf(doc, "bold ").fontItalic());
        QCOMPARE(formatOf(doc, " paragraph.").fontWeight(), int(QFont::Normal));
        QVERIFY(formatOf(doc, "link to the site").fontUnderline());
        QCOMPARE(formatOf(doc, "Greek").fontPointSize(), 11.0);
    }

    void readsADocumentConvertedFromAWebPage() {
        QTextDocument doc;
        platform::loadRtfFile(fixture("webpage.rtf"), &doc);
        QCOMPARE(blockTexts(doc),
                 (QStringList{"Holiday checklist",
                              QString::fromUtf8("Before leaving, switch the pump off and leave the "
                                                "porch light on. The résumé of the week: no rain."),
                              QString::fromUtf8("•\tWater the roses"),
                              QString::fromUtf8("•\tClose the garage door"), " 1.\tLock the doors",
                              " 2.\tCheck the windows", "Room\tLight", "Hall\ton",
                              QString::fromUtf8("Küche\toff"), "Map:  (a tiny picture).",
                              QString::fromUtf8("Grüße, Françoise & Björn.")}));
        QCOMPARE(formatOf(doc, "Holiday checklist").fontPointSize(), 24.0);
        QCOMPARE(formatOf(doc, "Holiday checklist").fontWeight(), int(QFont::Bold));
        QCOMPARE(formatOf(doc, "switch the pump off").fontWeight(), int(QFont::Bold));
        QVERIFY(formatOf(doc, "leave the porch light on").fontItalic());
        QVERIFY(formatOf(doc, "no rain").fontUnderline());
        QCOMPARE(formatOf(doc, "roses").fontWeight(), int(QFont::Bold));
        QVERIFY(formatOf(doc, "garage").fontItalic());
        QCOMPARE(formatOf(doc, "Room\tLight").fontWeight(), int(QFont::Bold));
        QCOMPARE(blockWith(doc, "Room").blockFormat().alignment(), Qt::AlignHCenter);
    }

    void agreesWithUnrtfOnTheTextOfEachFixture_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("styles") << "styles.rtf";
        QTest::newRow("international") << "international.rtf";
        QTest::newRow("webpage") << "webpage.rtf";
    }
    void agreesWithUnrtfOnTheTextOfEachFixture() {
        QFETCH(QString, name);
        const QString unrtf = QStandardPaths::findExecutable(QStringLiteral("unrtf"));
        if (unrtf.isEmpty())
            QSKIP("unrtf is not installed (Debian package unrtf)");
        const QString path = fixture(name.toLatin1().constData());
        QTemporaryDir work;  // unrtf may drop picture files in its working directory
        QProcess p;
        p.setWorkingDirectory(work.path());
        p.start(unrtf, {QStringLiteral("--nopict"), QStringLiteral("--text"), path});
        QVERIFY(p.waitForFinished(testsupport::allowMs(60000)));
        QCOMPARE(p.exitCode(), 0);
        QString theirs = QString::fromLatin1(p.readAllStandardOutput());
        // Its own header ends at a line of dashes; "###" starts its remarks.
        theirs = theirs.mid(theirs.indexOf(QStringLiteral("-----------------\n")) + 18);
        theirs.remove(QRegularExpression(QStringLiteral("###[^\n]*")));

        QTextDocument doc;
        platform::loadRtfFile(path, &doc);
        const QStringList ours = latinWords(doc.toPlainText());
        QVERIFY(ours.size() > 20);
        QCOMPARE(ours, latinWords(theirs));
    }

    // ---- damaged and hostile input ------------------------------------------------------

    void survivesDamagedInput_data() {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");
        const QByteArray head("{\\rtf1 ");
        QTest::newRow("unclosed groups") << head + "a{b{\\b c"
                                         << "abc";
        QTest::newRow("extra closing braces") << head + "a}}}}b"
                                              << "a";
        QTest::newRow("ends in a backslash") << head + "abc\\"
                                             << "abc";
        QTest::newRow("ends in a control word") << head + "abc\\b"
                                                << "abc";
        // A minus sign without digits is not part of the word.
        QTest::newRow("ends in a sign") << head + "abc\\fs-"
                                        << "abc-";
        QTest::newRow("ends in a hex escape") << head + "abc\\'"
                                              << "abc";
        QTest::newRow("ends in half a hex escape") << head + "abc\\'4"
                                                   << "abc";
        QTest::newRow("bad hex digits") << head + "a\\'zzb"
                                        << "azzb";
        QTest::newRow("ends in a unicode word") << head + "abc\\u"
                                                << "abc";
        QTest::newRow("ends in a negative sign") << head + "abc\\u-"
                                                 << "abc";
        QTest::newRow("ends while skipping fallback") << head + "abc\\uc5\\u233"
                                                      << "abc\u00e9";
        QTest::newRow("ends in a font table") << head + "{\\fonttbl{\\f0 Ari"
                                              << "";
        QTest::newRow("ends in binary data") << head + "a\\bin10 xy"
                                             << "a";
        QTest::newRow("huge binary length") << head + "a\\bin99999999999999 xyz}"
                                            << "a";
        QTest::newRow("negative binary length") << head + "a\\bin-5 b}"
                                                << "ab";
        QTest::newRow("huge unicode") << head + "\\u99999999999?a}"
                                      << "\uFFFDa";
        QTest::newRow("huge fallback count") << head + "\\uc99999999 \\u233 abc}d}"
                                             << "\u00e9";
        QTest::newRow("huge font number")
            << head + "{\\fonttbl{\\f99999999999 X;}}\\f-99999999999 a}"
            << "a";
        QTest::newRow("huge colour values")
            << head + "{\\colortbl;\\red999\\green-5\\blue99999999999;}\\cf1 a}"
            << "a";
        QTest::newRow("huge code page") << head + "\\ansicpg99999999999 \\'e9}"
                                        << "\u00e9";
        QTest::newRow("many cell edges")
            << head + QByteArray("\\cellx100").repeated(1000) + "\\intbl a\\cell b\\row}"
            << "a\tb\n";
        QTest::newRow("many tab stops") << head + QByteArray("\\tx100").repeated(1000) + "a}"
                                        << "a";
        QTest::newRow("cells outside a table") << head + "a\\cell\\cell b\\row\\row c}"
                                               << "a\t\tb\n\nc";
        QTest::newRow("star outside a group") << head + "a\\*b}"
                                              << "a";
        QTest::newRow("nul bytes") << head + QByteArray("a\0b\0", 4) + "}"
                                   << "ab";
    }
    void survivesDamagedInput() {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        QCOMPARE(plain(rtf), text);
    }

    void nestingBeyondTheLimitIsDroppedWithItsContent() {
        QElapsedTimer t;
        t.start();
        const int deep = 5000;
        const QByteArray rtf =
            "{\\rtf1 a" + QByteArray(deep, '{') + "\\b deep" + QByteArray(deep, '}') + "b}";
        QTextDocument doc;
        platform::readRtf(rtf, &doc);
        QCOMPARE(doc.toPlainText(), QString("ab"));
        // The bold switched on in a dropped group does not leak out of it.
        QCOMPARE(formatAt(doc, 1).fontWeight(), int(QFont::Normal));

        const int allowed = platform::kRtfMaxDepth - 1;  // below the document's own group
        const QByteArray kept =
            "{\\rtf1 a" + QByteArray(allowed, '{') + "\\b kept" + QByteArray(allowed, '}') + "b}";
        QCOMPARE(plain(kept), QString("akeptb"));
        QVERIFY2(t.elapsed() < testsupport::allowMs(20000),
                 qPrintable(QString::number(t.elapsed())));
    }

    void largeHostileInputsTakeTimeAndMemoryInProportion_data() {
        QTest::addColumn<QByteArray>("rtf");
        const QByteArray head("{\\rtf1 ");
        const int n = 1 << 20;
        QTest::newRow("opening braces") << head + QByteArray(4 * n, '{');
        QTest::newRow("closing braces") << head + QByteArray(4 * n, '}');
        QTest::newRow("alternating formats") << head + QByteArray("{\\b a}{\\i b}").repeated(n / 4);
        QTest::newRow("paragraphs") << head + QByteArray("x\\par ").repeated(n / 2);
        QTest::newRow("unicode and fallback")
            << head + QByteArray("\\uc3\\u233\\'e9\\'e9\\'e9").repeated(n / 4);
        QTest::newRow("hex bytes") << head + QByteArray("\\'e9").repeated(n);
        QTest::newRow("fonts") << head + "{\\fonttbl" +
                                      QByteArray("{\\f7 Font name;}").repeated(n / 8) + "}";
        QTest::newRow("colours") << head + "{\\colortbl" +
                                        QByteArray("\\red1\\green2\\blue3;").repeated(n / 8) + "}";
        QTest::newRow("cells") << head + QByteArray("\\cell").repeated(n) + "x";
        QTest::newRow("code page changes")
            << head + QByteArray("\\ansicpg1251\\'e9\\ansicpg1253\\'e9\\ansicpg42\\'e9")
                          .repeated(n / 16);
        QTest::newRow("long control words") << head + ("\\" + QByteArray(4 * n, 'w'));
        QTest::newRow("long numbers") << head + ("\\fs" + QByteArray(4 * n, '9'));
        for (quint32 seed : {1u, 2u, 3u}) {
            QRandomGenerator random(seed);
            QByteArray junk(2 * n, Qt::Uninitialized);
            for (char& c : junk)
                c = static_cast<char>(random.bounded(256));
            QTest::newRow(qPrintable(QString("binary junk %1").arg(seed))) << head + junk;
            // Junk made only of the characters that mean something.
            const char meaningful[] = "{}\\'*0123456789-; abuxcfl\r\n";
            QByteArray syntax(2 * n, Qt::Uninitialized);
            for (char& c : syntax)
                c = meaningful[random.bounded(int(sizeof meaningful - 1))];
            QTest::newRow(qPrintable(QString("syntax junk %1").arg(seed))) << head + syntax;
        }
    }
    void largeHostileInputsTakeTimeAndMemoryInProportion() {
        QFETCH(QByteArray, rtf);
        const long rssBefore = peakRssKb();
        QElapsedTimer t;
        t.start();
        QTextDocument doc;
        QVERIFY(platform::readRtf(rtf, &doc));
        QVERIFY(doc.characterCount() <= rtf.size() + 1);
        // A few megabytes of input; anything that is not linear takes hours, not seconds.
        QVERIFY2(t.elapsed() < testsupport::allowMs(60000),
                 qPrintable(QString::number(t.elapsed())));
        QVERIFY2(peakRssKb() - rssBefore < 1024 * 1024,
                 qPrintable(QString::number(peakRssKb() - rssBefore)));
    }

    void everyCutOfARealDocumentReadsItsBeginning() {
        const QByteArray full = readAll(fixture("styles.rtf"));
        QVERIFY(!full.isEmpty());
        QTextDocument whole;
        platform::readRtf(full, &whole);
        for (qsizetype cut = 5; cut < full.size(); cut += 37) {
            QTextDocument doc;
            QVERIFY(platform::readRtf(full.left(cut), &doc));
        }
        // Only the final brace missing: nothing is lost.
        QTextDocument nearlyAll;
        platform::readRtf(full.left(full.lastIndexOf('}')), &nearlyAll);
        QCOMPARE(nearlyAll.toPlainText(), whole.toPlainText());
    }

    // ---- files --------------------------------------------------------------------------

    void loadsAFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("doc.rtf");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\\rtf1 from a file}");
        f.close();
        QTextDocument doc;
        platform::loadRtfFile(path, &doc);
        QCOMPARE(doc.toPlainText(), QString("from a file"));
    }

    void refusesFilesItCannotRead_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("directory") << "directory";
        QTest::newRow("pipe") << "pipe";
        QTest::newRow("not rtf") << "text";
        QTest::newRow("empty") << "empty";
        QTest::newRow("too large") << "large";
    }
    void refusesFilesItCannotRead() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("README.RTF");
        if (kind == "directory") {
            QVERIFY(QDir(dir.path()).mkdir("README.RTF"));
        } else if (kind == "pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind != "missing") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (kind == "text")
                f.write("This is the manual, but not in RTF.\n");
            if (kind == "large") {
                f.write("{\\rtf1 ");
                QVERIFY(f.resize(platform::kRtfMaxFileBytes + 1));  // sparse: costs nothing
            }
        }
        QTextDocument doc;
        doc.setPlainText("kept");
        QVERIFY_THROWS_EXCEPTION(platform::RuntimeError, platform::loadRtfFile(path, &doc));
        QCOMPARE(doc.toPlainText(), QString("kept"));
    }

    void theViewShowsAFileReadOnlyAndKeepsItsTextWhenALoadFails() {
        QTemporaryDir dir;
        const QString path = dir.filePath("doc.rtf");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\\rtf1 {\\b Title}\\par body}");
        f.close();
        platform::RichTextBox view;
        view.setPlainText("RichTextBox1");
        view.LoadFile(path);
        QCOMPARE(view.Text(), QString("Title\nbody"));
        QVERIFY(view.isReadOnly());
        QCOMPARE(view.textCursor().position(), 0);
        QCOMPARE(view.document()->begin().begin().fragment().charFormat().fontWeight(),
                 int(QFont::Bold));
        QVERIFY_THROWS_EXCEPTION(platform::RuntimeError,
                                 view.LoadFile(dir.filePath("missing.rtf")));
        QCOMPARE(view.Text(), QString("Title\nbody"));
        // A second load replaces the document rather than adding to it.
        view.LoadFile(path);
        QCOMPARE(view.Text(), QString("Title\nbody"));
    }
};

QTEST_MAIN(TestRichText)
#include "tst_richtext.moc"
