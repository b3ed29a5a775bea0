#include <sys/stat.h>

#include <QtTest>

#include "platform/settings/SettingsBackend.h"
#include "store/Module1.h"
#include "support/TestSupport.h"

using Module1::HKEY_CURRENT_USER;
using Module1::ReadSetting;
using Module1::RegistryPath;
using Module1::WriteSetting;

class TestModule1 : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home;

    QString file() const { return home->path() + "/domivox/registry.ini"; }

    // Another program's hand on the file.
    void writeRaw(const QByteArray& content) { QVERIFY(testsupport::writeFile(file(), content)); }
    QByteArray readRaw() const { return testsupport::readFile(file()); }

private Q_SLOTS:
    void init() {
        home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", home->path().toLocal8Bit());
    }

    void theFileLivesUnderTheUsersConfigFolder() {
        QCOMPARE(platform::SettingsBackend::filePath(), file());
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(platform::SettingsBackend::filePath(),
                 QDir::homePath() + "/.config/domivox/registry.ini");
    }

    void readingWhatWasNeverWrittenGivesEmptyAndCreatesNothing() {
        QCOMPARE(ReadSetting("ONBUTTON1"), QString());
        QCOMPARE(ReadSetting(HKEY_CURRENT_USER, RegistryPath(), "disclaimer"), QString());
        QVERIFY(!QFileInfo::exists(home->path() + "/domivox"));
        QVERIFY(!platform::SettingsBackend::keyExists(RegistryPath()));
    }

    void writingCreatesTheKeyAndTheValue() {
        WriteSetting("caption", "My house");
        QVERIFY(platform::SettingsBackend::keyExists(RegistryPath()));
        QCOMPARE(ReadSetting("caption"), QString("My house"));
        WriteSetting("caption", "Other");
        QCOMPARE(ReadSetting("caption"), QString("Other"));
        // Other key paths are separate.
        QCOMPARE(ReadSetting(HKEY_CURRENT_USER, "Software\\Else", "caption"), QString());
    }

    void textIsStoredUnchanged_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString("");
        QTest::newRow("blanks") << QString("  lead and trail  ");
        QTest::newRow("comma list") << QString("a, b, c");
        QTest::newRow("quotes") << QString("say \"hi\" 'there'");
        QTest::newRow("backslashes") << QString("C:\\path\\to\\\\share\\");
        QTest::newRow("equals") << QString("a=b=c");
        QTest::newRow("section look") << QString("[Software\\VAZ\\Registry]");
        QTest::newRow("comment look") << QString("; not a comment # nor this");
        QTest::newRow("at sign") << QString("@ByteArray(x)");
        QTest::newRow("number look") << QString("42");
        QTest::newRow("False") << QString("False");
        QTest::newRow("line breaks") << QString("one\r\ntwo\nthree\ttab");
        QTest::newRow("escape look") << QString("\\u0041 \\\" \\n");
        QTest::newRow("non-ASCII") << QString::fromUtf8("Küche – Licht ☀ 日本 😀");
        QTest::newRow("control chars") << QString(QChar(1)) + QChar(0x7F) + QChar(0x1B);
    }
    void textIsStoredUnchanged() {
        QFETCH(QString, text);
        WriteSetting("ONBUTTON2", text);
        WriteSetting("OFFBUTTON2", "neighbour");
        QCOMPARE(ReadSetting("ONBUTTON2"), text);
        QCOMPARE(ReadSetting("OFFBUTTON2"), QString("neighbour"));
    }

    void anEmptyValueIsStoredNotMissing() {
        WriteSetting("password", "");
        QCOMPARE(ReadSetting("password"), QString());
        QVERIFY(readRaw().contains("password=\"\""));
    }

    void valueNamesAreExact() {
        WriteSetting("Address", "http://a");
        WriteSetting("address", "http://b");
        WriteSetting("odd/name\\with=signs", "x");
        QCOMPARE(ReadSetting("Address"), QString("http://a"));
        QCOMPARE(ReadSetting("address"), QString("http://b"));
        QCOMPARE(ReadSetting("odd/name\\with=signs"), QString("x"));
        QCOMPARE(ReadSetting("odd"), QString());
    }

    void aZeroCharacterEndsTheText() {
        WriteSetting("caption", QString("before") + QChar(0) + "after");
        QCOMPARE(ReadSetting("caption"), QString("before"));
        writeRaw("[Software\\VAZ\\Registry]\ncaption=\"zero-terminated\\u0000\"\n");
        QCOMPARE(ReadSetting("caption"), QString("zero-terminated"));
    }

    void valuesThatAreNotPlainTextReadAsEmpty_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("number") << QByteArray("timer1=42");
        QTest::newRow("float") << QByteArray("timer1=1.5");
        QTest::newRow("list") << QByteArray("timer1=a, b");
        QTest::newRow("byte array") << QByteArray("timer1=@ByteArray(abc)");
        QTest::newRow("variant") << QByteArray("timer1=@Variant(\\0\\0\\0\\x2)");
        QTest::newRow("unterminated quote") << QByteArray("timer1=\"half");
        QTest::newRow("bad escape") << QByteArray("timer1=\"a\\qb\"");
    }
    void valuesThatAreNotPlainTextReadAsEmpty() {
        QFETCH(QByteArray, line);
        writeRaw("[Software\\VAZ\\Registry]\n" + line + "\nAddress=\"http://x\"\n");
        QCOMPARE(ReadSetting("timer1"), QString());
        QCOMPARE(ReadSetting("Address"), QString("http://x"));
    }

    void anotherProgramsValuesSurviveOurWrites_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("number") << QByteArray("legacy=42");
        QTest::newRow("list") << QByteArray("items=a, b");
        QTest::newRow("byte array") << QByteArray("blob=@ByteArray(abc)");
        QTest::newRow("unterminated quote") << QByteArray("half=\"half");
        QTest::newRow("bad escape") << QByteArray("esc=\"a\\qb\"");
        QTest::newRow("quote inside") << QByteArray("inner=\"a\"b\"");
        QTest::newRow("lone quote") << QByteArray("q=\"");
    }
    void anotherProgramsValuesSurviveOurWrites() {
        QFETCH(QByteArray, line);
        writeRaw("[Software\\VAZ\\Registry]\n" + line + "\n\n[Other\\Key]\nz=\"keep\"\n" + line +
                 "\n");
        WriteSetting("caption", "new");
        WriteSetting("caption", "newer");
        const QByteArray raw = readRaw();
        QCOMPARE(raw.count("\n" + line + "\n"), 2);
        QCOMPARE(ReadSetting(HKEY_CURRENT_USER, "Other\\Key", "z"), QString("keep"));
        QCOMPARE(ReadSetting("caption"), QString("newer"));
    }

    // Files the settings fuzzer turned up, with the lines of them that must outlive our writes.
    void damagedFilesFromFuzzingKeepTheirLines_data() {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QByteArrayList>("kept");
        QTest::newRow("malformed quote of another program")
            << "other-program-malformed-quote.ini"
            << QByteArrayList{"count=42", "list=a, b", "broken=\"half", "name=\"kept\""};
    }
    void damagedFilesFromFuzzingKeepTheirLines() {
        QFETCH(QString, fixture);
        QFETCH(QByteArrayList, kept);
        QFile source(QFINDTESTDATA("fixtures/" + fixture));
        QVERIFY(source.open(QIODevice::ReadOnly));
        writeRaw(source.readAll());
        QCOMPARE(ReadSetting(HKEY_CURRENT_USER, "Other\\Program", "broken"), QString());
        WriteSetting("caption", "after the damage");
        const QList<QByteArray> lines = readRaw().split('\n');
        for (const QByteArray& line : kept)
            QVERIFY2(lines.contains(line), line.constData());
        QCOMPARE(ReadSetting(HKEY_CURRENT_USER, "Other\\Program", "name"), QString("kept"));
        QCOMPARE(ReadSetting("caption"), QString("after the damage"));
    }

    void changesMadeOutsideAreSeenAtTheNextRead() {
        WriteSetting("password", "one");
        QCOMPARE(ReadSetting("password"), QString("one"));
        writeRaw("[Software\\VAZ\\Registry]\npassword=\"second one\"\n");
        QCOMPARE(ReadSetting("password"), QString("second one"));
        // Rewritten in place to the same size, as an editor might: still seen.
        writeRaw("[Software\\VAZ\\Registry]\npassword=\"second two\"\n");
        QCOMPARE(ReadSetting("password"), QString("second two"));
        QFile::remove(file());
        QCOMPARE(ReadSetting("password"), QString());
    }

    void damagedLinesDoNotHideTheRest() {
        QByteArray junk("[Software\\VAZ\\Registry]\nONBUTTON1=\"Lamp\"\n");
        const char binary[] = {'\0', '\xff', '\xfe', ' ', 'g', '\x01', '\x02', '=', '\n'};
        junk += QByteArray(binary, sizeof binary);
        junk += "[broken section\nONBUTTON2=\"hidden by broken header\"\n";
        junk += "[Software\\VAZ\\Registry]\nOFFBUTTON1=\"Lamp off\"\nno equals sign here\n";
        writeRaw(junk);
        QCOMPARE(ReadSetting("ONBUTTON1"), QString("Lamp"));
        QCOMPARE(ReadSetting("OFFBUTTON1"), QString("Lamp off"));
        QCOMPARE(ReadSetting("ONBUTTON2"), QString());
    }

    void theFileIsPrivateToItsOwner() {
        WriteSetting("password", "secret");
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(file()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(::stat(QFile::encodeName(home->path() + "/domivox").constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        // Still private after it has been rewritten.
        WriteSetting("password", "other");
        QCOMPARE(::stat(QFile::encodeName(file()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
    }

    void aFailedWriteIsSilentAndKeepsNothingHalfDone() {
        // A file where the folder should be: nothing can be created, not even by root.
        QFile blocker(home->path() + "/domivox");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        WriteSetting("caption", "lost");
        QCOMPARE(ReadSetting("caption"), QString());
        QVERIFY(!platform::SettingsBackend::write(RegistryPath(), "caption", "lost"));
    }

    void otherRootsHoldNothing() {
        WriteSetting(0x80000002u, RegistryPath(), "caption", "machine");
        QCOMPARE(ReadSetting(0x80000002u, RegistryPath(), "caption"), QString());
        QCOMPARE(ReadSetting("caption"), QString());
        QVERIFY(!QFileInfo::exists(file()));
    }

    void everyWriteLeavesACompleteFile() {
        for (int i = 0; i < 50; ++i)
            WriteSetting(QString("v%1").arg(i % 7), QString("value %1").arg(i));
        for (int i = 43; i < 50; ++i)
            QCOMPARE(ReadSetting(QString("v%1").arg(i % 7)), QString("value %1").arg(i));
        const QStringList left = QDir(home->path() + "/domivox").entryList(QDir::Files);
        QCOMPARE(left, QStringList{"registry.ini"});
    }
};

QTEST_GUILESS_MAIN(TestModule1)
#include "tst_module1.moc"
