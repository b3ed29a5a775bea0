// The settings file as a person edits it: what is read from hand-written lines, and that a save
// changes only the line of the value written. Real files in a temporary XDG_CONFIG_HOME.
#include <QtTest>

#include "platform/settings/SettingsBackend.h"
#include "support/TestSupport.h"

namespace store = platform::SettingsBackend;

namespace {
const QString kKey = QStringLiteral("Software\\VAZ\\Registry");
const QString kPorts = QStringLiteral("Platform\\Serial");
}  // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home;

    QString file() const { return home->path() + "/domivox/registry.ini"; }
    void writeRaw(const QByteArray& content) { QVERIFY(testsupport::writeFile(file(), content)); }
    QByteArray readRaw() const { return testsupport::readFile(file()); }

private Q_SLOTS:
    void init() {
        home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", home->path().toLocal8Bit());
    }

    // "-" as the expected value: reads as missing.
    void handWrittenLinesRead_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("handEdited");
        const QByteArray reg = "[Software\\VAZ\\Registry]\n";
        const QByteArray ser = "[Platform\\Serial]\n";
        QTest::newRow("byte-order mark before the header")
            << "\xEF\xBB\xBF" + reg + "password=\"secret\"\n"
            << kKey << "password"
            << "secret"
            << "secret";
        QTest::newRow("byte-order mark, CRLF lines")
            << "\xEF\xBB\xBF" + reg.chopped(1) + "\r\ndisclaimer=\"1\"\r\n"
            << kKey << "disclaimer"
            << "1"
            << "1";
        QTest::newRow("comment after a quoted value") << reg + "caption=\"Home\" ; set by hand\n"
                                                      << kKey << "caption"
                                                      << "Home"
                                                      << "Home";
        QTest::newRow("hash comment right after the quote") << reg + "caption=\"Home\"# x\n"
                                                            << kKey << "caption"
                                                            << "Home"
                                                            << "Home";
        QTest::newRow("semicolon inside the quotes is text") << reg + "caption=\"a ; b\"\n"
                                                             << kKey << "caption"
                                                             << "a ; b"
                                                             << "a ; b";
        QTest::newRow("words after the quote are not a comment") << reg + "caption=\"Home\" sweet\n"
                                                                 << kKey << "caption"
                                                                 << "-"
                                                                 << "-";
        QTest::newRow("comment after a bare path") << ser + "COM1=/dev/ttyUSB0 ; blue adapter\n"
                                                   << kPorts << "COM1"
                                                   << "-"
                                                   << "/dev/ttyUSB0";
        QTest::newRow("hash comment after a bare path, tab before it")
            << ser + "COM1=/dev/ttyUSB0\t# blue\n"
            << kPorts << "COM1"
            << "-"
            << "/dev/ttyUSB0";
        QTest::newRow("semicolon inside a bare path stays") << ser + "COM1=/dev/odd;name\n"
                                                            << kPorts << "COM1"
                                                            << "-"
                                                            << "/dev/odd;name";
        QTest::newRow("comment after a quoted path") << ser + "COM1=\"/dev/ttyUSB1\" ; red\n"
                                                     << kPorts << "COM1"
                                                     << "/dev/ttyUSB1"
                                                     << "/dev/ttyUSB1";
        QTest::newRow("only a comment after the equals sign") << ser + "COM1= ; none yet\n"
                                                              << kPorts << "COM1"
                                                              << "-"
                                                              << "-";
        QTest::newRow("the later of two duplicates counts")
            << reg + "caption=\"first\"\ncaption=\"second\"\n"
            << kKey << "caption"
            << "second"
            << "second";
        QTest::newRow("header with a comment")
            << QByteArray("[Platform\\Serial] ; my ports\nCOM1=/dev/ttyUSB0\n") << kPorts << "COM1"
            << "-"
            << "/dev/ttyUSB0";
        QTest::newRow("a lone carriage return ends the value")
            << ser + "COM1=/dev/ttyUSB0\rCOM2=/dev/ttyUSB1\n"
            << kPorts << "COM1"
            << "-"
            << "/dev/ttyUSB0";
        QTest::newRow("a line after a lone carriage return is a line")
            << ser + "COM1=/dev/ttyUSB0\rCOM2=\"/dev/ttyUSB1\"\n"
            << kPorts << "COM2"
            << "/dev/ttyUSB1"
            << "/dev/ttyUSB1";
        QTest::newRow("keys under a damaged header are not the section's")
            << reg + "caption=\"a\"\n[broken\ncaption=\"b\"\n"
            << kKey << "caption"
            << "a"
            << "a";
    }
    void handWrittenLinesRead() {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, handEdited);
        writeRaw(content);
        const auto asText = [](const std::optional<QString>& v) {
            return v ? *v : QStringLiteral("-");
        };
        QCOMPARE(asText(store::read(key, name)), text);
        QCOMPARE(asText(store::readHandEdited(key, name)), handEdited);
    }

    // Every line but the one written stays byte for byte; "-" as the value removes the key.
    void aSaveChangesOnlyTheLineOfTheValue_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        const QByteArray reg = "[Software\\VAZ\\Registry]\n";
        const QByteArray rest =
            "; my lamps\n# and the rest\n\nno equals sign\n"
            "odd/key=1\nodd\\key=2\n[broken\nx=\"y\"\n"
            "[Other\\Program]\ncount=42\n";
        QTest::newRow("in place among lines it does not own")
            << reg + "ONBUTTON1=\"Lamp\"\n" + rest << kKey << "ONBUTTON1"
            << "Fan" << reg + "ONBUTTON1=\"Fan\"\n" + rest;
        QTest::newRow("new value at the end of its own section")
            << reg + "ONBUTTON1=\"Lamp\"\n; about B\n\n[B]\nb=\"1\"\n"
            << kKey << "caption"
            << "Home" << reg + "ONBUTTON1=\"Lamp\"\ncaption=\"Home\"\n; about B\n\n[B]\nb=\"1\"\n";
        QTest::newRow("new value in a section of comments only")
            << reg + "; nothing yet\n"
            << kKey << "caption"
            << "Home" << reg + "caption=\"Home\"\n; nothing yet\n";
        QTest::newRow("new section after the rest")
            << QByteArray("; mine\n[A]\na=1") << kKey << "caption"
            << "Home"
            << "; mine\n[A]\na=1\n\n" + reg + "caption=\"Home\"\n";
        QTest::newRow("byte-order mark and CRLF kept")
            << QByteArray("\xEF\xBB\xBF[Software\\VAZ\\Registry]\r\n; c\r\ncaption=\"a\"\r\n")
            << kKey << "password"
            << "p"
            << QByteArray(
                   "\xEF\xBB\xBF[Software\\VAZ\\Registry]\r\n; c\r\ncaption=\"a\"\r\n"
                   "password=\"p\"\r\n");
        QTest::newRow("spacing and comment of the line kept")
            << reg + "  caption = \"old\"   ; mine\n"
            << kKey << "caption"
            << "new" << reg + "  caption = \"new\"   ; mine\n";
        QTest::newRow("bare path with a comment becomes quoted, comment kept")
            << QByteArray("[Platform\\Serial]\nCOM1=/dev/ttyUSB0 ; blue adapter\n") << kPorts
            << "COM1"
            << "/dev/ttyACM0"
            << QByteArray("[Platform\\Serial]\nCOM1=\"/dev/ttyACM0\" ; blue adapter\n");
        QTest::newRow("only the later duplicate changes")
            << reg + "caption=\"first\"\n\ncaption=\"second\"\n"
            << kKey << "caption"
            << "third" << reg + "caption=\"first\"\n\ncaption=\"third\"\n";
        QTest::newRow("a value of another kind is replaced in place")
            << reg + "timer1=42 ; ms\n"
            << kKey << "timer1"
            << "100" << reg + "timer1=\"100\" ; ms\n";
        QTest::newRow("section written twice: the later block grows")
            << reg + "a=\"1\"\n[B]\n" + reg + "b=\"2\"\n\n"
            << kKey << "c"
            << "3" << reg + "a=\"1\"\n[B]\n" + reg + "b=\"2\"\nc=\"3\"\n\n";
        QTest::newRow("header with a comment: the value goes in that section")
            << QByteArray("[Platform\\Serial] # my ports\nCOM2=/dev/b\n") << kPorts << "COM1"
            << "/dev/a"
            << QByteArray("[Platform\\Serial] # my ports\nCOM2=/dev/b\nCOM1=\"/dev/a\"\n");
        QTest::newRow("lone carriage return: what follows it stays")
            << QByteArray("[Platform\\Serial]\nCOM1=/dev/ttyUSB0\rCOM2=/dev/ttyUSB1\n") << kPorts
            << "COM1"
            << "/dev/ttyACM0"
            << QByteArray("[Platform\\Serial]\nCOM1=\"/dev/ttyACM0\"\rCOM2=/dev/ttyUSB1\n");
        QTest::newRow("carriage returns only: a new line ends like the others")
            << QByteArray("[Platform\\Serial]\rCOM1=/dev/a\r") << kPorts << "COM2"
            << "/dev/b" << QByteArray("[Platform\\Serial]\rCOM1=/dev/a\rCOM2=\"/dev/b\"\r");
        QTest::newRow("removing takes every line of the key, nothing else")
            << QByteArray(
                   "[Platform\\Serial]\n; chosen\nCOM1=/dev/a\nCOM2=\"x\"\nCOM1=\"/dev/b\" ; b\n")
            << kPorts << "COM1"
            << "-" << QByteArray("[Platform\\Serial]\n; chosen\nCOM2=\"x\"\n");
    }
    void aSaveChangesOnlyTheLineOfTheValue() {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        writeRaw(before);
        if (value == QLatin1String("-")) {
            QVERIFY(store::remove(key, name));
            QVERIFY(!store::readHandEdited(key, name));
        } else {
            QVERIFY(store::write(key, name, value));
            QCOMPARE(store::read(key, name), value);
        }
        QCOMPARE(readRaw(), after);
    }

    // A file an editor saved as UTF-16 (with its byte-order mark) reads, and stays UTF-16 with
    // every other line as it was; one whose UTF-16 is damaged is neither read nor replaced.
    // "mark": the text itself begins with U+FEFF, after the file's byte-order mark.
    void utf16FilesStayUtf16_data() {
        QTest::addColumn<bool>("little");
        QTest::addColumn<bool>("mark");
        QTest::newRow("little-endian") << true << false;
        QTest::newRow("big-endian") << false << false;
        QTest::newRow("little-endian, text with its own mark") << true << true;
        QTest::newRow("big-endian, text with its own mark") << false << true;
    }
    void utf16FilesStayUtf16() {
        QFETCH(bool, little);
        QFETCH(bool, mark);
        const auto utf16 = [little](const QString& text) {
            QStringEncoder e(little ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
            return QByteArray(little ? "\xFF\xFE" : "\xFE\xFF") + QByteArray(e.encode(text));
        };
        // The header comes first, so a mark read into it would hide the section.
        const QString head =
            (mark ? QStringLiteral("\uFEFF") : QString()) +
            QString::fromUtf8("[Software\\VAZ\\Registry]\r\n; K\u00fcche \U0001F600\r\n");
        writeRaw(utf16(head + "caption=\"Caf\u00e9\" ; mine\r\n\r\n[B]\r\n"));
        QCOMPARE(store::read(kKey, "caption"), QString::fromUtf8("Caf\u00e9"));
        QVERIFY(!store::readProblem());
        QVERIFY(store::write(kKey, "caption", QString::fromUtf8("\u00e9t\u00e9")));
        QVERIFY(store::write(kKey, "password", "p"));
        QCOMPARE(readRaw(), utf16(head + QString::fromUtf8("caption=\"\u00e9t\u00e9\" ; mine\r\n") +
                                  "password=\"p\"\r\n\r\n[B]\r\n"));

        QByteArray damaged = utf16(head + "caption=\"x\"\r\n");
        damaged += little ? QByteArray("\x00\xD8", 2) : QByteArray("\xD8\x00", 2);  // a lone half
        writeRaw(damaged);
        QVERIFY(!store::read(kKey, "caption"));
        QVERIFY(store::readProblem().value_or(QString()).contains("UTF-16"));
        QVERIFY(!store::write(kKey, "caption", "y"));
        QVERIFY(store::lastSaveFailure().contains("UTF-16"));
        QCOMPARE(readRaw(), damaged);
    }

    void aNewFileHoldsTheSectionAndTheValue() {
        QVERIFY(store::write(kKey, QStringLiteral("caption"), QStringLiteral("Home")));
        QVERIFY(store::write(kPorts, QStringLiteral("COM1"), QStringLiteral("/dev/x")));
        QCOMPARE(readRaw(), QByteArray("[Software\\VAZ\\Registry]\ncaption=\"Home\"\n\n"
                                       "[Platform\\Serial]\nCOM1=\"/dev/x\"\n"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
