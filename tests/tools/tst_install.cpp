#include <termios.h>

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "store/Module1.h"
#include "support/TestSupport.h"

// `make install` into a staging folder, and the installed program started through its link.
class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir stage;
    QString prefix;

    QString installed(const QString& relative) const { return prefix + "/" + relative; }

    // Starts the installed program through the bin link against a pseudo-terminal and says
    // whether its start-up got as far as opening the port, which comes after it has loaded the
    // picture from its own directory.
    bool startUpReachesThePort(int waitMs) {
        testsupport::Pty pty;
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        Module1::WriteSetting(Setting::disclaimer, "1");
        Module1::WriteSetting(Setting::picture, "False");

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", config.path());
        env.insert("DOMIVOX_COM1", pty.slavePath());
        program.setProcessEnvironment(env);
        program.start(installed("bin/domivox"), {});
        if (!program.waitForStarted(testsupport::allowMs(5000)))
            return false;
        bool opened = false;
        QElapsedTimer t;
        t.start();
        while (!opened && t.elapsed() < waitMs && program.state() == QProcess::Running) {
            const termios line = pty.lineSettings();
            opened = cfgetospeed(&line) == B2400;
            QTest::qWait(50);
        }
        program.kill();
        program.waitForFinished(testsupport::allowMs(5000));
        return opened;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(stage.isValid());
        prefix = stage.path() + "/usr/local";
        QProcess install;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DESTDIR", stage.path());
        install.setProcessEnvironment(env);
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start("cmake", {"--install", DOMIVOX_BUILD_DIR, "--prefix", "/usr/local"});
        QVERIFY(install.waitForFinished(testsupport::allowMs(60000)));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    }

    void theTreeHoldsTheProgramItsFilesAndItsMenuEntry_data() {
        QTest::addColumn<QString>("path");
        for (const char* p :
             {DOMIVOX_PKGDIR "/domivox", DOMIVOX_PKGDIR "/serialcable.bmp",
              DOMIVOX_PKGDIR "/README.RTF", "bin/domivox", "bin/domivox-board", "bin/domivox-port",
              "bin/domivox-send", "share/applications/domivox.desktop",
              "share/metainfo/org.example.domivox.metainfo.xml",
              "share/icons/hicolor/48x48/apps/domivox.png",
              "share/icons/hicolor/128x128/apps/domivox.png",
              "share/icons/hicolor/256x256/apps/domivox.png",
              "share/icons/hicolor/scalable/apps/domivox.svg", "share/man/man1/domivox.1.gz",
              "share/man/man1/domivox-board.1.gz", "share/man/man1/domivox-port.1.gz",
              "share/man/man1/domivox-send.1.gz", "share/bash-completion/completions/domivox-send"})
            QTest::newRow(p) << QString(p);
    }
    void theTreeHoldsTheProgramItsFilesAndItsMenuEntry() {
        QFETCH(QString, path);
        QVERIFY2(QFileInfo::exists(installed(path)), qPrintable(installed(path)));
    }

    void theBinEntryIsALinkToTheProgram() {
        const QFileInfo link(installed("bin/domivox"));
        QVERIFY(link.isSymLink());
        QCOMPARE(QFileInfo(link.symLinkTarget()).canonicalFilePath(),
                 QFileInfo(installed(DOMIVOX_PKGDIR "/domivox")).canonicalFilePath());
        QVERIFY(QFileInfo(installed("bin/domivox-board")).isExecutable());
    }

    void theMenuEntryValidates() {
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (make test installs it)");
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(validator, {installed("share/applications/domivox.desktop")});
        QVERIFY(check.waitForFinished(testsupport::allowMs(10000)));
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());
    }

    void startedThroughTheLinkItFindsItsOwnFiles() {
        QVERIFY(startUpReachesThePort(testsupport::allowMs(15000)));
    }

    void withoutItsFilesTheSameStartStopsShortOfThePort() {
        // Proves the check above means something: the picture really comes from that folder.
        QVERIFY(QFile::remove(installed(DOMIVOX_PKGDIR "/serialcable.bmp")));
        QVERIFY(!startUpReachesThePort(testsupport::allowMs(5000)));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
