#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "platform/settings/SettingsWatch.h"
#include "store/Module1.h"
#include "support/TestSupport.h"

using platform::SettingsWatch;
using testsupport::allowMs;

class TestSettingsWatch : public QObject {
    Q_OBJECT

    static void writeFile(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

private Q_SLOTS:
    // Every way the file can change under the program, each noticed, and noticed again after.
    void everyKindOfChangeIsReported_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("saved by the store (replaced)") << "store";
        QTest::newRow("rewritten in place") << "in place";
        QTest::newRow("replaced by rename") << "rename";
        QTest::newRow("deleted") << "delete";
    }
    void everyKindOfChangeIsReported() {
        QFETCH(QString, how);
        testsupport::Sandbox box;
        Module1::WriteSetting(Setting::password, "before");
        const QString file = box.settingsFile();
        SettingsWatch watch(nullptr);
        QSignalSpy changed(&watch, &SettingsWatch::changed);
        for (int round = 1; round <= 2; ++round) {
            const int before = changed.count();
            const QByteArray text =
                "[Software%5CVAZ%5CRegistry]\npassword=\"r" + QByteArray::number(round) + "\"\n";
            if (how == "store")
                Module1::WriteSetting(Setting::password, QStringLiteral("r%1").arg(round));
            if (how == "in place")
                writeFile(file, text);
            if (how == "rename") {
                writeFile(file + ".new", text);
                QVERIFY(QFile::remove(file) || !QFile::exists(file));
                QVERIFY(QFile::rename(file + ".new", file));
            }
            if (how == "delete") {
                if (round == 2)
                    writeFile(file, text);  // and back again
                else
                    QVERIFY(QFile::remove(file));
            }
            QTRY_VERIFY_WITH_TIMEOUT(changed.count() > before, allowMs(2000));
        }
    }

    void aFolderMadeAfterTheWatchIsFollowed() {
        testsupport::Sandbox box;
        QVERIFY(!QFile::exists(QFileInfo(box.settingsFile()).path()));
        SettingsWatch watch(nullptr);
        QSignalSpy changed(&watch, &SettingsWatch::changed);
        Module1::WriteSetting(Setting::password, "first");
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 1, allowMs(2000));
        // Now watching the new folder and file themselves.
        QTest::qWait(100);
        const int before = changed.count();
        writeFile(box.settingsFile(), "[Software%5CVAZ%5CRegistry]\npassword=\"second\"\n");
        QTRY_VERIFY_WITH_TIMEOUT(changed.count() > before, allowMs(2000));
    }

    void readingTheFileIsNoChange() {
        // The lock's clock reads after every notification; a read that notified would keep it
        // awake for ever.
        testsupport::Sandbox box;
        Module1::WriteSetting(Setting::password, "quiet");
        SettingsWatch watch(nullptr);
        QSignalSpy changed(&watch, &SettingsWatch::changed);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(Module1::ReadSetting(Setting::password), QString("quiet"));
        QTest::qWait(200);
        QCOMPARE(changed.count(), 0);
    }
};

QTEST_MAIN(TestSettingsWatch)
#include "tst_settingswatch.moc"
