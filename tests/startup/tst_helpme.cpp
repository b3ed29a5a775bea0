#include <QAction>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QtTest>

#include "../support/TestSupport.h"
#include "mainwindow/Form1.h"
#include "platform/richtext/RichTextBox.h"
#include "platform/ui/WindowRegistry.h"
#include "startup/Helpme.h"
#include "startup/disclaim.h"

using mainwindow::Form1;
using startup::disclaim;
using startup::Helpme;

using platform::WindowRegistry;

namespace {

const QString kFailure = "Please send readme.doc for more information";

QAction* menuItem(QMainWindow* w, const char* top, const char* item) {
    QMenu* menu = w->menuBar()->findChild<QMenu*>(top);
    if (!menu)
        return nullptr;
    for (QAction* a : menu->actions())
        if (a->objectName() == QLatin1String(item))
            return a;
    return nullptr;
}

}  // namespace

class TestHelpme : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    Form1* main = nullptr;

    QString manualPath() const { return box->appDir() + "/README.RTF"; }
    void writeManual(const QByteArray& content) {
        QFile f(manualPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    // Help File in the main window's menu.
    Helpme* openFromMenu() {
        menuItem(main, "help", "helpit")->trigger();
        return WindowRegistry::find<Helpme>();
    }
    const QList<testsupport::RecordingMessageBox::Box>& boxes() { return box->boxes().boxes; }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        WindowRegistry::setEndWhenLastWindowCloses(true);
        main = WindowRegistry::show<Form1>();
    }
    void cleanup() {
        WindowRegistry::setEndWhenLastWindowCloses(false);
        box.reset();
    }

    void controlsStandWhereTheyWereDesigned() {
        writeManual("{\\rtf1 Manual}");
        Helpme* h = openFromMenu();
        QVERIFY(h);
        QCOMPARE(h->windowTitle(), QString("HELP IS HERE!"));
        QCOMPARE(h->client()->size(), QSize(687, 496));
        auto* frame = h->findChild<QGroupBox*>("Frame1");
        QVERIFY(frame);
        QCOMPARE(frame->title(), QString("When you need help!"));
        QCOMPARE(frame->geometry(), QRect(8, 24, 649, 457));
        QCOMPARE(h->RichTextBox1()->objectName(), QString("RichTextBox1"));
        QCOMPARE(h->RichTextBox1()->parentWidget(), frame);
        QCOMPARE(h->RichTextBox1()->geometry(), QRect(16, 40, 601, 345));
        QAction* close = menuItem(h, "file", "close");
        QVERIFY(close);
        QCOMPARE(close->text(), QString("Close"));
        QCOMPARE(h->menuBar()->findChild<QMenu*>("file")->title(), QString("File"));
    }

    void theWindowCanBeResizedAndTheViewFollows() {
        writeManual("{\\rtf1 Manual}");
        Helpme* h = openFromMenu();
        QVERIFY(h->minimumSize() != h->maximumSize());
        const QSize grow(200, 100);
        h->resize(h->size() + grow);
        QTRY_COMPARE(h->client()->size(), QSize(687, 496) + grow);
        QCOMPARE(h->findChild<QGroupBox*>("Frame1")->size(), QSize(649, 457) + grow);
        QCOMPARE(h->RichTextBox1()->size(), QSize(601, 345) + grow);
    }

    void aPresentManualIsShownReadOnly() {
        writeManual("{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0{\\b Domivox manual}\\par Line two}");
        Helpme* h = openFromMenu();
        QVERIFY(h);
        QVERIFY(h->isVisible());
        QCOMPARE(h->RichTextBox1()->Text(), QString("Domivox manual\nLine two"));
        QVERIFY(h->RichTextBox1()->isReadOnly());
        QVERIFY(boxes().isEmpty());
    }

    void aManualThatCannotBeShownGivesTheMessageAndNoWindow_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("absent") << "absent";
        QTest::newRow("not rtf") << "text";
        QTest::newRow("empty") << "empty";
        QTest::newRow("directory") << "directory";
        QTest::newRow("lower-case name only") << "lower";
    }
    void aManualThatCannotBeShownGivesTheMessageAndNoWindow() {
        QFETCH(QString, kind);
        if (kind == "text")
            writeManual("Domivox manual, written as plain text.\n");
        else if (kind == "empty")
            writeManual("");
        else if (kind == "directory")
            QVERIFY(QDir(box->appDir()).mkdir("README.RTF"));
        else if (kind == "lower") {
            QFile f(box->appDir() + "/readme.rtf");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("{\\rtf1 lower case}");
        }
        testsupport::ShowWatcher watcher;
        QVERIFY(!openFromMenu());
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, kFailure);
        QCOMPARE(boxes()[0].title, QString("Error"));
        QCOMPARE(boxes()[0].style, 64);
        QVERIFY(!WindowRegistry::isLoaded<Helpme>());
        QCOMPARE(watcher.shown("Helpme"), 0);
        // The main window carries on.
        QVERIFY(main->isVisible());
        QVERIFY(main->isEnabled());
        QVERIFY(!box->ended());
    }

    void eachOpeningReadsTheFileAfresh() {
        writeManual("{\\rtf1 First edition}");
        Helpme* h = openFromMenu();
        QCOMPARE(h->RichTextBox1()->Text(), QString("First edition"));
        menuItem(h, "file", "close")->trigger();
        QVERIFY(!WindowRegistry::isLoaded<Helpme>());
        QVERIFY(!box->ended());
        testsupport::flushDeletes();

        writeManual("{\\rtf1 Second edition}");
        h = openFromMenu();
        QCOMPARE(h->RichTextBox1()->Text(), QString("Second edition"));

        // Opening it again while it is open only brings it forward.
        writeManual("{\\rtf1 Third edition}");
        QCOMPARE(openFromMenu(), h);
        QCOMPARE(h->RichTextBox1()->Text(), QString("Second edition"));
        QFile::remove(manualPath());
        QCOMPARE(openFromMenu(), h);
        QVERIFY(boxes().isEmpty());
    }

    void theShippedManualIsReadableAndCoversTheProgram() {
        const QString shipped = QFINDTESTDATA("../../assets/README.RTF");
        QVERIFY(!shipped.isEmpty());
        QVERIFY(QFile::copy(shipped, manualPath()));
        Helpme* h = openFromMenu();
        QVERIFY(h);
        const QString text = h->RichTextBox1()->Text();
        // Every letter of the wire protocol with its device.
        const char* rows[] = {"1\tTV\ta\tb", "2\tSprinkler\tc\td", "3\tFront lights\te\tf",
                              "4\tPool filter\tg\th", "5\tGarage door\ti\tj"};
        for (const char* row : rows)
            QVERIFY2(text.contains(QLatin1String(row)), row);
        // Every window by its menu entry, and the facts a user needs to wire the board.
        for (const char* fact : {"Edit Control Names",
                                 "Edit Picture/Caption",
                                 "Timer Function",
                                 "Lock Program",
                                 "Disclaimer",
                                 "Exit",
                                 "Turn Internet Controls On",
                                 "Turn Internet Controls Off",
                                 "Setup Internet Control",
                                 "About",
                                 "Help File",
                                 "I agree to the disclaimer",
                                 "2400 baud",
                                 "/dev/ttyS0",
                                 "DOMIVOX_COM1",
                                 "dialout",
                                 "00:00:01",
                                 "10000",
                                 "00000",
                                 "Unlock Program",
                                 "New Password",
                                 "Please select name",
                                 "IS CURRENTLY ON",
                                 "IS CURRENTLY OFF"})
            QVERIFY2(text.contains(QLatin1String(fact)), fact);
        QVERIFY(text.contains("\"Unnamed device\""));
        // Headings are set in bold, so the document is really read as rich text.
        const QTextCursor heading =
            h->RichTextBox1()->document()->find("Wiring the controller board");
        QVERIFY(!heading.isNull());
        QCOMPARE(heading.charFormat().fontWeight(), int(QFont::Bold));
        QVERIFY(!text.contains('\\'));
        QVERIFY(!text.contains('{'));
    }
};

QTEST_MAIN(TestHelpme)
#include "tst_helpme.moc"
