#include <QAction>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "ScriptedFileDialog.h"
#include "editors/caption1.h"
#include "mainwindow/Form1.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/PictureBox.h"
#include "platform/ui/WindowRegistry.h"
#include "store/Module1.h"

using editors::caption1;
using mainwindow::Form1;

using platform::WindowRegistry;

namespace {

const QString kFilter = "JPG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|BMP Files (*.bmp)|*.bmp";

// Qt reads GIF but cannot write it: a 3 x 2 GIF, a red top row over a blue bottom row.
const QByteArray kGif = QByteArray::fromHex(
    "474946383961030002008000000000ffff0000"  // header, screen 3 x 2, blue and red
    "2c000000000300020000"                    // image 3 x 2 at 0,0
    "02044c181028003b");                      // 3-bit codes, cleared every two pixels; end

QString writeImage(const QString& dir, const QString& name, int w, int h, const char* format,
                   QColor colour) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    const QString path = dir + "/" + name;
    if (!img.save(path, format))
        return QString();
    return path;
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

}  // namespace

class TestCaption1 : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<ScriptedFileDialog> dialog;

    const QList<testsupport::RecordingMessageBox::Box>& boxes() { return box->boxes().boxes; }
    Form1* mainWindow() { return WindowRegistry::find<Form1>(); }

    caption1* openFromMenu() {
        Form1* f = WindowRegistry::show<Form1>();
        f->findChild<QAction*>("cap")->trigger();
        return WindowRegistry::find<caption1>();
    }

    Form1* restartMainWindow() {
        if (Form1* f = mainWindow())
            f->Unload();
        testsupport::flushDeletes();
        return WindowRegistry::show<Form1>();
    }

    // The state a failed or cancelled choice must leave alone.
    struct Seen {
        QString stored;
        qint64 preview;
        qint64 onMain;
        QSize mainSize;
    };
    Seen seen(caption1* e) {
        return {Module1::ReadSetting(Setting::picture), e->Image1()->picture().cacheKey(),
                mainWindow()->Image1()->picture().cacheKey(), mainWindow()->Image1()->size()};
    }
    void verifyUnchanged(caption1* e, const Seen& before) {
        const Seen now = seen(e);
        QCOMPARE(now.stored, before.stored);
        QCOMPARE(now.preview, before.preview);
        QCOMPARE(now.onMain, before.onMain);
        QCOMPARE(now.mainSize, before.mainSize);
    }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        dialog = std::make_unique<ScriptedFileDialog>();
    }
    void cleanup() {
        QVERIFY(!dialog->unscripted);
        dialog.reset();
        box.reset();
    }

    void theEditorStandsWhereItWasDesigned() {
        caption1* e = openFromMenu();
        QVERIFY(e && e->isVisible());
        QCOMPARE(e->windowTitle(), QString("Edit Details"));
        QCOMPARE(e->client()->size(), QSize(435, 123));
        auto geometry = [e](const char* name) { return e->findChild<QWidget*>(name)->geometry(); };
        QCOMPARE(geometry("Frame1"), QRect(8, 24, 193, 89));
        QCOMPARE(geometry("Command1"), QRect(16, 24, 153, 45));
        QCOMPARE(geometry("Frame2"), QRect(216, 24, 193, 89));
        QCOMPARE(geometry("Text2"), QRect(24, 24, 137, 19));
        QCOMPARE(geometry("Command2"), QRect(32, 56, 121, 25));
        QCOMPARE(e->Command1()->parentWidget(), e->findChild<QWidget*>("Frame1"));
        QCOMPARE(e->Text2()->parentWidget(), e->findChild<QWidget*>("Frame2"));
        QCOMPARE(e->findChild<QGroupBox*>("Frame1")->title(),
                 QString("Please Select Picture File"));
        QCOMPARE(e->findChild<QGroupBox*>("Frame2")->title(), QString("Select Program Caption"));
        QCOMPARE(e->Command1()->text(), QString("Select Picture"));
        QCOMPARE(e->Command2()->text(), QString("Save Caption"));
        QCOMPARE(e->Text2()->text(), QString("Example : Larry's Program"));
        QCOMPARE(e->CommonDialog1()->objectName(), QString("CommonDialog1"));
        QMenu* file = e->menuBar()->findChild<QMenu*>("file");
        QCOMPARE(file->title(), QString("File"));
        QCOMPARE(file->actions().size(), 1);
        QCOMPARE(file->actions()[0]->text(), QString("Close"));

        // The preview lies below both frames, out of sight until the window is enlarged.
        QCOMPARE(e->Image1()->pos(), QPoint(96, 152));
        QVERIFY(!e->Image1()->hasPicture());
        QVERIFY(e->Image1()->y() >= geometry("Frame1").bottom());
        QVERIFY(e->Image1()->y() >= e->client()->height());
        e->resize(e->width() + 300, e->height() + 400);
        QTRY_COMPARE(e->client()->size(), QSize(735, 523));

        // Opening it again brings the same window forward, unchanged.
        e->Text2()->setText("typing");
        mainWindow()->cap_Click();
        QCOMPARE(WindowRegistry::find<caption1>(), e);
        QCOMPARE(e->Text2()->text(), QString("typing"));
    }

    void theDialogOffersTheThreePictureKinds() {
        caption1* e = openFromMenu();
        dialog->cancel();
        QTest::mouseClick(e->Command1(), Qt::LeftButton);
        QCOMPARE(dialog->requests.size(), 1);
        QCOMPARE(e->CommonDialog1()->Filter(), kFilter);
        QCOMPARE(dialog->requests[0].nameFilters,
                 (QStringList{"JPG Files (*.jpg)", "GIF Files (*.gif)", "BMP Files (*.bmp)"}));
        QCOMPARE(dialog->requests[0].selectedFilter, 0);
        QCOMPARE(dialog->parents[0], e);
    }

    void aChosenPictureShowsEverywhereAndIsStored_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QColor>("topLeft");
        QTest::newRow("JPEG") << "holiday.jpg" << QSize(600, 400) << QColor(Qt::blue);
        QTest::newRow("GIF") << "dots.gif" << QSize(3, 2) << QColor(Qt::red);
        QTest::newRow("BMP") << "tall.bmp" << QSize(200, 350) << QColor(Qt::green);
    }
    void aChosenPictureShowsEverywhereAndIsStored() {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QFETCH(QColor, topLeft);
        const QString dir = box->appDir() + "/My Pictures";
        QVERIFY(QDir().mkpath(dir));
        const QString path = name.endsWith(".gif")
                                 ? writeFile(dir + "/" + name, kGif)
                                 : writeImage(dir, name, size.width(), size.height(),
                                              name.endsWith(".jpg") ? "JPG" : "BMP", topLeft);
        QVERIFY(!path.isEmpty());

        caption1* e = openFromMenu();
        dialog->onShow = [&] {
            // Nothing happens before the user has chosen.
            QCOMPARE(Module1::ReadSetting(Setting::picture), QString());
        };
        dialog->choose(path);
        QTest::mouseClick(e->Command1(), Qt::LeftButton);
        QVERIFY(boxes().isEmpty());
        QCOMPARE(e->Image1()->picture().size(), size);
        QCOMPARE(e->Image1()->size(), size);
        QCOMPARE(e->Image1()->pos(), QPoint(96, 152));
        QCOMPARE(Module1::ReadSetting(Setting::picture), path);
        QCOMPARE(e->CommonDialog1()->FileName(), path);
        // Shown whole on the main window at once: the display takes the picture's size.
        Form1* f = mainWindow();
        QCOMPARE(f->Image1()->picture().size(), size);
        QCOMPARE(f->Image1()->size(), size);
        const QColor shown = f->Image1()->picture().toImage().pixelColor(0, 0);
        // JPEG is lossy: near enough is the same colour.
        QVERIFY2(qAbs(shown.red() - topLeft.red()) + qAbs(shown.green() - topLeft.green()) +
                         qAbs(shown.blue() - topLeft.blue()) <=
                     12,
                 qPrintable(shown.name()));

        // The next main window shows it in its 300 x 300 area.
        f = restartMainWindow();
        QVERIFY(boxes().isEmpty());
        QCOMPARE(f->Text69()->text(), path);
        QCOMPARE(f->Image1()->picture().size(), size);
        QCOMPARE(f->Image1()->size(), QSize(300, 300));
    }

    void aFileThatIsNoPictureSaysErrorAndChangesNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("text named x.jpg") << "x.jpg";
        QTest::newRow("file gone") << "gone.bmp";
        QTest::newRow("folder") << "album.gif";
    }
    void aFileThatIsNoPictureSaysErrorAndChangesNothing() {
        QFETCH(QString, name);
        const QString good = writeImage(box->appDir(), "good.bmp", 40, 30, "BMP", Qt::yellow);
        const QString bad = box->appDir() + "/" + name;
        if (name == "x.jpg")
            QVERIFY(!writeFile(bad, "Shopping list: bread, milk\n").isEmpty());
        if (name == "album.gif")
            QVERIFY(QDir().mkpath(bad));

        caption1* e = openFromMenu();
        dialog->choose(good);
        e->Command1_Click();
        const Seen before = seen(e);
        QCOMPARE(before.stored, good);

        dialog->choose(bad);
        QTest::mouseClick(e->Command1(), Qt::LeftButton);
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, QString("error"));
        QCOMPARE(boxes()[0].style, 0);
        QCOMPARE(boxes()[0].title, QString("Domivox"));
        verifyUnchanged(e, before);
        QVERIFY(WindowRegistry::isLoaded<caption1>());
    }

    void aCancelledDialogChangesNothing_data() {
        QTest::addColumn<bool>("choseBefore");
        QTest::newRow("first use") << false;
        QTest::newRow("after a choice") << true;
    }
    void aCancelledDialogChangesNothing() {
        QFETCH(bool, choseBefore);
        const QString stored = writeImage(box->appDir(), "stored.jpg", 50, 50, "JPG", Qt::red);
        Module1::WriteSetting(Setting::picture, stored);
        caption1* e = openFromMenu();
        if (choseBefore) {
            dialog->choose(writeImage(box->appDir(), "chosen.bmp", 20, 10, "BMP", Qt::blue));
            e->Command1_Click();
        }
        const Seen before = seen(e);
        QVERIFY(mainWindow()->Image1()->hasPicture());

        dialog->cancel();
        QTest::mouseClick(e->Command1(), Qt::LeftButton);
        QVERIFY(boxes().isEmpty());
        verifyUnchanged(e, before);
        QCOMPARE(e->Image1()->hasPicture(), choseBefore);
        QVERIFY(mainWindow()->Image1()->hasPicture());
    }

    void theCaptionIsStoredAndShownAtOnce_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("new caption") << "Villa  Domivox ";
        QTest::newRow("empty") << "";
        QTest::newRow("the word False") << "False";
    }
    void theCaptionIsStoredAndShownAtOnce() {
        QFETCH(QString, text);
        Module1::WriteSetting(Setting::caption, "Before");
        caption1* e = openFromMenu();
        QCOMPARE(mainWindow()->windowTitle(), QString("Before"));
        e->Text2()->setText(text);
        QTest::mouseClick(e->Command2(), Qt::LeftButton);
        QCOMPARE(Module1::ReadSetting(Setting::caption), text);
        QCOMPARE(mainWindow()->windowTitle(), text);
        QVERIFY(boxes().isEmpty());
        // "False" stored is the program's name again at the next start.
        QCOMPARE(restartMainWindow()->windowTitle(), text == "False" ? QString("Domivox") : text);
    }

    void eachOpeningStartsAfresh() {
        caption1* e = openFromMenu();
        dialog->choose(writeImage(box->appDir(), "a.bmp", 20, 10, "BMP", Qt::blue));
        e->Command1_Click();
        e->Text2()->setText("Mine");
        e->Command2_Click();
        e->findChild<QAction*>("close")->trigger();
        QVERIFY(!WindowRegistry::isLoaded<caption1>());
        testsupport::flushDeletes();
        mainWindow()->cap_Click();
        e = WindowRegistry::find<caption1>();
        QCOMPARE(e->Text2()->text(), QString("Example : Larry's Program"));
        QVERIFY(!e->Image1()->hasPicture());
        // Closing stores nothing and leaves the main window as it was.
        e->Text2()->setText("not saved");
        e->close();
        QCOMPARE(Module1::ReadSetting(Setting::caption), QString("Mine"));
        QCOMPARE(mainWindow()->windowTitle(), QString("Mine"));
    }

    void aClosedMainWindowIsNotBroughtBack() {
        caption1* e = openFromMenu();
        mainWindow()->close();
        testsupport::flushDeletes();
        const QString pic = writeImage(box->appDir(), "a.bmp", 20, 10, "BMP", Qt::blue);
        dialog->choose(pic);
        e->Command1_Click();
        e->Text2()->setText("Later");
        e->Command2_Click();
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        QVERIFY(boxes().isEmpty());
        QVERIFY(e->Image1()->hasPicture());
        // The next main window takes both from the store.
        Form1* f = WindowRegistry::show<Form1>();
        QCOMPARE(f->windowTitle(), QString("Later"));
        QCOMPARE(f->Image1()->picture().size(), QSize(20, 10));
    }
};

QTEST_MAIN(TestCaption1)
#include "tst_caption1.moc"
