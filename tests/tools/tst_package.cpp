#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtTest>

#include "platform/app/AppInfo.h"

// The .deb as `make deb` builds it: what it holds, what it depends on, and that its manual pages,
// icons, menu entry and software-centre data are the ones the program and the tree agree on.
class TestPackage : public QObject {
    Q_OBJECT

    QTemporaryDir out;
    QString deb;
    QString version;
    QString arch;
    // Path without the leading "./" -> the listing line's mode and owner, and link target if any.
    struct Entry {
        QString mode;
        QString owner;
        QString linkTarget;
    };
    QHash<QString, Entry> entries;
    QString root;  // the package's files unpacked here

    struct Run {
        int code = -1;
        QByteArray out;
        QByteArray err;
    };
    static Run run(const QString& program, const QStringList& args, int waitMs = 60000) {
        QProcess p;
        p.start(program, args);
        Run r;
        if (!p.waitForFinished(waitMs)) {
            p.kill();
            p.waitForFinished();
            r.err = "timed out: " + program.toLocal8Bit();
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    QString field(const QString& name) const {
        return QString::fromUtf8(run("dpkg-deb", {"-f", deb, name}).out).trimmed();
    }
    QString unpacked(const QString& path) const { return root + "/" + path; }

    static QStringList manPages() {
        QStringList pages = {"domivox", "domivox-board", "domivox-send"};
#ifdef DOMIVOX_HAS_PORT
        pages << "domivox-port";
#endif
        return pages;
    }

private Q_SLOTS:
    void initTestCase() {
#ifdef DOMIVOX_SANITIZED_BUILD
        QSKIP(
            "A package from the sanitizer build would ship instrumented binaries depending on "
            "the sanitizer runtimes; the release build's run of this test checks the package");
#endif
        QVERIFY(out.isValid());
        arch = QString::fromUtf8(run("dpkg", {"--print-architecture"}).out).trimmed();
        QVERIFY(!arch.isEmpty());
        version = QStringLiteral("%1.%2.%3")
                      .arg(platform::App::Major())
                      .arg(platform::App::Minor())
                      .arg(platform::App::Revision());

        const Run cpack =
            run(DOMIVOX_CPACK,
                {"--config", DOMIVOX_BUILD_DIR "/CPackConfig.cmake", "-B", out.path()}, 240000);
        QVERIFY2(cpack.code == 0, (cpack.out + cpack.err).constData());
        deb = out.filePath(QStringLiteral("domivox_%1_%2.deb").arg(version, arch));
        QVERIFY2(QFileInfo::exists(deb), qPrintable(deb + " missing; cpack said:\n" + cpack.out));

        const Run list = run("dpkg-deb", {"-c", deb});
        QVERIFY2(list.code == 0, list.err.constData());
        // -rwxr-xr-x root/root  12345 2026-12-09 02:00 ./usr/bin/domivox-board
        // lrwxrwxrwx root/root      0 2026-12-09 02:00 ./usr/bin/domivox -> ../lib/domivox/domivox
        static const QRegularExpression line(
            R"(^(\S+)\s+(\S+)\s+\d+\s+\S+\s+\S+\s+\./(\S*?)/?(?: -> (\S+))?$)");
        for (const QString& l : QString::fromUtf8(list.out).split('\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch m = line.match(l);
            QVERIFY2(m.hasMatch(), qPrintable(l));
            entries.insert(m.captured(3), {m.captured(1), m.captured(2), m.captured(4)});
        }

        root = out.filePath("root");
        const Run unpack = run("dpkg-deb", {"-x", deb, root});
        QVERIFY2(unpack.code == 0, unpack.err.constData());
    }

    void theControlFieldsNameThePackage_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Package") << "Package"
                                 << "domivox";
        QTest::newRow("Version") << "Version" << version;
        QTest::newRow("Architecture") << "Architecture" << arch;
        QTest::newRow("Section") << "Section"
                                 << "utils";
    }
    void theControlFieldsNameThePackage() {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(field(name), expected);
    }

    void itDependsOnTheFontTheWindowsAreMeasuredFor() {
        QVERIFY2(field("Depends").split(", ").contains("fonts-liberation"),
                 qPrintable(field("Depends")));
        QCOMPARE(field("Recommends"), QString());
    }

    void itDependsOnTheLibrariesTheBinariesUse_data() {
        QTest::addColumn<QString>("library");
        for (const char* lib : {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6",
                                "libqt6widgets6", "libqt6serialport6", "libqt6network6"})
            QTest::newRow(lib) << QString(lib);
    }
    void itDependsOnTheLibrariesTheBinariesUse() {
        QFETCH(QString, library);
        const QString depends = field("Depends");
        // Computed from the binaries, so each entry carries a minimum version. Debian 13 renamed
        // some libraries for 64-bit time (libqt6core6t64); either name is the same library.
        const QRegularExpression entry("(^|, )" + QRegularExpression::escape(library) +
                                       R"((t64)?(:\w+)? \(>= [^)]+\)(,|$))");
        QVERIFY2(entry.match(depends).hasMatch(), qPrintable(depends));
        QVERIFY2(!depends.contains("libasan") && !depends.contains("libubsan"),
                 qPrintable(depends));
    }

    void itAsksForTheQtItWasBuiltWith() {
        // The program reaches into Qt's private native interface, which only the same Qt
        // release keeps as it was; Debian 13 renamed the name that stands for it.
        const QString depends = field("Depends");
        const QRegularExpression abi(R"((^|, )qt6-base(-private)?-abi \(= )" +
                                     QRegularExpression::escape(QT_VERSION_STR) + R"(\)(,|$))");
        QVERIFY2(abi.match(depends).hasMatch(), qPrintable(depends));
    }

    void itHoldsTheProgramAndEverythingAroundIt_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("linkTarget");
        const QString exe = "-rwxr-xr-x", file = "-rw-r--r--";
        QTest::newRow("program") << "usr/lib/domivox/domivox" << exe << QString();
        QTest::newRow("its picture") << "usr/lib/domivox/serialcable.bmp" << file << QString();
        QTest::newRow("its manual") << "usr/lib/domivox/README.RTF" << file << QString();
        QTest::newRow("command") << "usr/bin/domivox"
                                 << "lrwxrwxrwx"
                                 << "../lib/domivox/domivox";
        QTest::newRow("simulator") << "usr/bin/domivox-board" << exe << QString();
#ifdef DOMIVOX_HAS_PORT
        QTest::newRow("port tool") << "usr/bin/domivox-port" << exe << QString();
#endif
        QTest::newRow("send tool") << "usr/bin/domivox-send" << exe << QString();
        QTest::newRow("send completion")
            << "usr/share/bash-completion/completions/domivox-send" << file << QString();
        QTest::newRow("menu entry")
            << "usr/share/applications/domivox.desktop" << file << QString();
        QTest::newRow("metainfo") << "usr/share/metainfo/org.example.domivox.metainfo.xml" << file
                                  << QString();
        for (const char* size : {"48x48", "128x128", "256x256"})
            QTest::newRow(size)
                << QStringLiteral("usr/share/icons/hicolor/%1/apps/domivox.png").arg(size) << file
                << QString();
        QTest::newRow("scalable") << "usr/share/icons/hicolor/scalable/apps/domivox.svg" << file
                                  << QString();
        for (const QString& page : manPages())
            QTest::newRow(qPrintable(page + ".1"))
                << "usr/share/man/man1/" + page + ".1.gz" << file << QString();
        QTest::newRow("changelog") << "usr/share/doc/domivox/changelog.gz" << file << QString();
        QTest::newRow("lintian override")
            << "usr/share/lintian/overrides/domivox" << file << QString();
    }
    void itHoldsTheProgramAndEverythingAroundIt() {
        QFETCH(QString, path);
        QFETCH(QString, mode);
        QFETCH(QString, linkTarget);
        QVERIFY2(entries.contains(path), qPrintable(QStringList(entries.keys()).join('\n')));
        QCOMPARE(entries[path].mode, mode);
        QCOMPARE(entries[path].linkTarget, linkTarget);
    }

    void everythingIsRootsAndUnderUsr() {
        for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
            QVERIFY2(it.value().owner == "root/root", qPrintable(it.key()));
            QVERIFY2(it.key().isEmpty() || it.key() == "usr" || it.key().startsWith("usr/"),
                     qPrintable(it.key()));
            QVERIFY2(!it.key().startsWith("usr/local"), qPrintable(it.key()));
            if (it.value().mode.startsWith('d'))
                QVERIFY2(it.value().mode == "drwxr-xr-x", qPrintable(it.key()));
        }
    }

    void everyManualPageInTheTreeIsShippedAndReadsWithoutWarnings() {
        const QDir man(DOMIVOX_SOURCE_DIR "/assets/man");
        const QStringList pages = man.entryList({"*.1"}, QDir::Files);
        QVERIFY(pages.size() >= manPages().size());
        for (const QString& page : pages) {
            const QString shipped = unpacked("usr/share/man/man1/" + page + ".gz");
            QVERIFY2(QFileInfo::exists(shipped), qPrintable(shipped));
            // gzip -n: no name or time stamp in the header, so the bytes never change.
            QFile gz(shipped);
            QVERIFY(gz.open(QIODevice::ReadOnly));
            const QByteArray header = gz.read(10);
            QCOMPARE(header.at(3) & 0x08, 0);              // no file name
            QCOMPARE(header.mid(4, 4), QByteArray(4, 0));  // no time stamp
            const Run read = run("man", {"--warnings", "-l", shipped});
            QVERIFY2(read.code == 0 && read.err.isEmpty(), qPrintable(page + ": " + read.err));
            QVERIFY2(read.out.contains("NAME"), qPrintable(page));
        }
    }

    void eachIconIsTheSizeItsFolderSays_data() {
        QTest::addColumn<int>("size");
        for (int size : {48, 128, 256})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }
    void eachIconIsTheSizeItsFolderSays() {
        QFETCH(int, size);
        const QImage icon(
            unpacked(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/domivox.png").arg(size)));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
        // The windows show the same picture the menu does.
        QVERIFY(platform::App::Icon().availableSizes().contains(QSize(size, size)));
    }

    void theMenuEntryMatchesTheProgramsWindows() {
        // Window managers tie a window to its menu entry by the desktop file name and the
        // WM_CLASS class, which Qt takes from the application name.
        QSettings entry(
            unpacked("usr/share/applications/" + platform::App::DesktopName() + ".desktop"),
            QSettings::IniFormat);
        entry.beginGroup("Desktop Entry");
        QCOMPARE(entry.value("Icon").toString(), platform::App::DesktopName());
        QCOMPARE(entry.value("StartupWMClass").toString(), platform::App::Title());
        QCOMPARE(entry.value("Exec").toString(), QString("domivox"));
    }

    void theChangelogStartsWithThisVersion() {
        const Run changelog = run("gzip", {"-dc", unpacked("usr/share/doc/domivox/changelog.gz")});
        QVERIFY2(changelog.code == 0, changelog.err.constData());
        QVERIFY2(changelog.out.startsWith("domivox (" + version.toUtf8() + ") "),
                 changelog.out.left(80).constData());
    }

    void theMetainfoLaunchesTheMenuEntryAndNamesThisRelease() {
        QFile file(unpacked("usr/share/metainfo/org.example.domivox.metainfo.xml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString id, launchable, newestRelease, screenshot;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("id"))
                id = xml.readElementText();
            else if (xml.name() == QLatin1String("launchable"))
                launchable = xml.readElementText();
            else if (xml.name() == QLatin1String("image"))
                screenshot = xml.readElementText();
            else if (xml.name() == QLatin1String("release") && newestRelease.isEmpty())
                newestRelease = xml.attributes().value("version").toString();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(id, QString("org.example.domivox"));
        QCOMPARE(launchable, platform::App::DesktopName() + ".desktop");
        QCOMPARE(newestRelease, version);
        QVERIFY(screenshot.startsWith("https://"));

        const QString validator = QStandardPaths::findExecutable("appstreamcli");
        if (validator.isEmpty())
            QSKIP("appstreamcli is not installed (make deb-check installs it)");
        const Run check = run(validator, {"validate", "--no-net", file.fileName()});
        QVERIFY2(check.code == 0, (check.out + check.err).constData());
    }
};

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
