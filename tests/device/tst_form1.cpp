#include <QAction>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "device/BoardLink.h"
#include "mainwindow/Form1.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/Colors.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/PictureBox.h"
#include "platform/ui/WindowRegistry.h"
#include "store/Module1.h"

using mainwindow::Form1;

using platform::WindowRegistry;

namespace {

const QString kStartupFailure =
    "PLEASE CONFIGURE YOUR SETTINGS  In addition your serial port must be on com 1";

QString writePicture(const QString& dir, const QString& name, int w, int h, const char* format) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::blue);
    const QString path = dir + "/" + name;
    img.save(path, format);
    return path;
}

}  // namespace

class TestForm1 : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

    Form1* open() { return WindowRegistry::show<Form1>(); }
    const QList<testsupport::RecordingMessageBox::Box>& boxes() { return box->boxes().boxes; }

private Q_SLOTS:
    void init() { box = std::make_unique<testsupport::Sandbox>(); }
    void cleanup() { box.reset(); }

    // ---- layout -----------------------------------------------------------------------

    void controlsStandWhereTheyWereDesigned() {
        Form1* f = open();
        QCOMPARE(f->client()->size(), QSize(690, 400));
        auto geometry = [f](const char* name) {
            QWidget* w = f->findChild<QWidget*>(name);
            return w ? w->geometry() : QRect();
        };
        QCOMPARE(geometry("Frame1"), QRect(16, 8, 193, 273));
        QCOMPARE(geometry("Frame3"), QRect(208, 8, 161, 273));
        QCOMPARE(geometry("Frame2"), QRect(16, 320, 665, 73));
        QCOMPARE(geometry("Command1"), QRect(48, 32, 129, 33));
        QCOMPARE(geometry("Command5"), QRect(48, 224, 129, 33));
        QCOMPARE(geometry("Command6"), QRect(8, 24, 145, 33));
        QCOMPARE(geometry("Command10"), QRect(8, 216, 145, 33));
        QCOMPARE(geometry("Label1"), QRect(24, 24, 113, 33));
        QCOMPARE(geometry("Label5"), QRect(544, 24, 105, 33));
        QCOMPARE(geometry("Label6"), QRect(416, 64, 241, 169));
        QCOMPARE(geometry("Image1").topLeft(), QPoint(384, 8));
        QCOMPARE(f->Command(3)->parentWidget(), f->client());
        QCOMPARE(f->Command(8)->parentWidget(), f->findChild<QWidget*>("Frame3"));
        QCOMPARE(f->Label(4)->parentWidget(), f->findChild<QWidget*>("Frame2"));
        QVERIFY(f->Text69()->isHidden());
        QVERIFY(f->text20()->isHidden());
        QVERIFY(f->findChild<platform::SerialControl*>("MSComm1"));
        // The ON buttons lie in front of their frame.
        QVERIFY(f->client()->children().indexOf(f->Command(1)) >
                f->client()->children().indexOf(f->findChild<QWidget*>("Frame1")));
    }

    void framesAndLabelsWearTheirColours() {
        Form1* f = open();
        for (const char* name : {"Frame1", "Frame2", "Frame3"}) {
            auto* frame = f->findChild<QGroupBox*>(name);
            QCOMPARE(platform::backColor(frame), platform::kColorBlack);
            QCOMPARE(platform::foreColor(frame), platform::kColorSilver);
        }
        QCOMPARE(f->findChild<QGroupBox*>("Frame1")->title(), QString("ON CONTROLS"));
        QCOMPARE(f->findChild<QGroupBox*>("Frame3")->title(), QString("OFF CONTROLS"));
        QCOMPARE(f->findChild<QGroupBox*>("Frame2")->title(), QString("DEVICE STATUS"));
        for (int n = 1; n <= 5; ++n) {
            QCOMPARE(platform::backColor(f->Label(n)), platform::kColorRed);
            QCOMPARE(f->Label(n)->text(), QString("OFF STATE"));
        }
        QCOMPARE(f->Label(6)->font(), platform::designFont("MS Sans Serif", 12, true));
    }

    void theMenuCarriesEveryEntry_data() {
        QTest::addColumn<QString>("top");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("caption");
        QTest::newRow("controlname") << "file"
                                     << "controlname"
                                     << "Edit Control Names";
        QTest::newRow("cap") << "file"
                             << "cap"
                             << "Edit Picture/Caption";
        QTest::newRow("tmfunction") << "file"
                                    << "tmfunction"
                                    << "Timer Function";
        QTest::newRow("lock") << "file"
                              << "lock"
                              << "Lock Program";
        QTest::newRow("dis") << "file"
                             << "dis"
                             << "Disclaimer";
        QTest::newRow("exit") << "file"
                              << "exit"
                              << "Exit";
        QTest::newRow("oncon") << "int"
                               << "oncon"
                               << "Turn Internet Controls On";
        QTest::newRow("off") << "int"
                             << "off"
                             << "Turn Internet Controls Off";
        QTest::newRow("internet") << "int"
                                  << "internet"
                                  << "Setup Internet Control";
        QTest::newRow("mqtt") << "int"
                              << "mqtt"
                              << "Setup MQTT Broker";
        QTest::newRow("about") << "ab"
                               << "about"
                               << "About";
        QTest::newRow("helpit") << "help"
                                << "helpit"
                                << "Help File";
    }
    void theMenuCarriesEveryEntry() {
        QFETCH(QString, top);
        QFETCH(QString, item);
        QFETCH(QString, caption);
        Form1* f = open();
        QMenu* menu = f->menuBar()->findChild<QMenu*>(top);
        QVERIFY(menu);
        QAction* action = nullptr;
        for (QAction* a : menu->actions())
            if (a->objectName() == item)
                action = a;
        QVERIFY(action);
        QCOMPARE(action->text(), caption);
    }

    void theTopLevelMenusComeInOrder() {
        Form1* f = open();
        QStringList titles;
        for (QAction* a : f->menuBar()->actions())
            titles << a->text();
        QCOMPARE(titles, (QStringList{"File", "Internet", "About", "Help"}));
    }

    // ---- buttons ----------------------------------------------------------------------

    void buttonsSendTheirLetterAndNameTheDeviceByItsOnButton_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QByteArray>("letter");
        QTest::addColumn<int>("device");
        QTest::addColumn<QString>("status");
        for (int n = 1; n <= 10; ++n) {
            const int device = n <= 5 ? n : n - 5;
            const bool on = n <= 5;
            QTest::addRow("Command%d", n)
                << n << QByteArray(1, char('a' + 2 * (device - 1) + (on ? 0 : 1))) << device
                << QString(testsupport::kFactoryOn[device - 1]) +
                       (on ? " IS CURRENTLY ON" : " IS CURRENTLY OFF");
        }
    }
    void buttonsSendTheirLetterAndNameTheDeviceByItsOnButton() {
        QFETCH(int, button);
        QFETCH(QByteArray, letter);
        QFETCH(int, device);
        QFETCH(QString, status);
        testsupport::storeFactoryNames();
        Form1* f = open();
        QTest::mouseClick(f->Command(button), Qt::LeftButton);
        QCOMPARE(box->pty().read(1), letter);
        QCOMPARE(box->pty().drain(), QByteArray());
        QCOMPARE(f->Label(device)->text(), status);
        QCOMPARE(platform::backColor(f->Label(device)),
                 button <= 5 ? platform::kColorGreen : platform::kColorRed);
        QVERIFY(boxes().isEmpty());
    }

    void anEmptyCaptionLeavesTheLeadingBlank() {
        Form1* f = open();  // nothing stored: every caption is empty
        f->Command(3)->click();
        QCOMPARE(f->Label(3)->text(), QString(" IS CURRENTLY ON"));
        f->Command(8)->click();
        QCOMPARE(f->Label(3)->text(), QString(" IS CURRENTLY OFF"));
    }

    void pressingTwiceSendsTwice() {
        testsupport::storeFactoryNames();
        Form1* f = open();
        f->Command(1)->click();
        const QString after = f->Label(1)->text();
        f->Command(1)->click();
        QCOMPARE(box->pty().read(2), QByteArray("aa"));
        QCOMPARE(f->Label(1)->text(), after);
    }

    void anEditedCaptionShowsAtTheNextCommandOnly() {
        testsupport::storeFactoryNames();
        Form1* f = open();
        f->Command(2)->click();
        f->Command(2)->setText("Lawn");
        QCOMPARE(f->Label(2)->text(), QString("START SPRINKLER IS CURRENTLY ON"));
        f->Command(7)->click();
        QCOMPARE(f->Label(2)->text(), QString("Lawn IS CURRENTLY OFF"));
    }

    void aClosedPortChangesNoLabelAndSaysSoOncePerRun() {
        box->removePort();
        testsupport::storeFactoryNames();
        Form1* f = open();
        QCOMPARE(boxes().size(), 1);
        for (int n : {1, 6, 1, 4})
            f->Command(n)->click();
        QCOMPARE(boxes().size(), 2);
        const auto failure = boxes().last();
        QVERIFY2(failure.text.contains("port 1"), qPrintable(failure.text));
        QVERIFY(failure.text.contains("no-such-port"));
        QVERIFY(failure.text.contains("not open"));
        for (int n = 1; n <= 5; ++n) {
            QCOMPARE(f->Label(n)->text(), QString("OFF STATE"));
            QCOMPARE(platform::backColor(f->Label(n)), platform::kColorRed);
        }
    }

    void aDeviceThatGoesAwayIsReportedOnceUntilAWriteSucceeds() {
        testsupport::storeFactoryNames();
        Form1* f = open();
        f->Command(1)->click();
        QCOMPARE(box->pty().read(1), QByteArray("a"));
        box->pty().closeMaster();
        f->Command(6)->click();
        f->Command(6)->click();
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(f->Label(1)->text(), QString("START TV IS CURRENTLY ON"));
        QCOMPARE(platform::backColor(f->Label(1)), platform::kColorGreen);
    }

    void aSuccessfulWriteEndsARunOfFailures() {
        testsupport::storeFactoryNames();
        Form1* f = open();
        f->boardLink().close();
        f->Command(2)->click();
        f->Command(2)->click();
        QCOMPARE(boxes().size(), 1);
        f->boardLink().open();
        f->Command(2)->click();
        QCOMPARE(box->pty().read(1), QByteArray("c"));
        f->boardLink().close();
        f->Command(7)->click();
        QCOMPARE(boxes().size(), 2);
        QCOMPARE(f->Label(2)->text(), QString("START SPRINKLER IS CURRENTLY ON"));
    }

    void lineEventsDropDtrButCommandsGoOn() {
        testsupport::storeFactoryNames();
        Form1* f = open();
        QVERIFY(f->MSComm1().DTREnable());
        box->pty().send("ok");
        QTRY_VERIFY(!f->MSComm1().DTREnable());
        f->Command(5)->click();
        QCOMPARE(box->pty().read(1), QByteArray("i"));
        QVERIFY(boxes().isEmpty());
    }

    // ---- start-up ---------------------------------------------------------------------

    void aFirstStartShowsEmptyNamesNoPictureAndAnOpenLink() {
        Form1* f = open();
        for (int n = 1; n <= 10; ++n)
            QCOMPARE(f->Command(n)->text(), QString());
        QVERIFY(!f->Image1()->hasPicture());
        QCOMPARE(f->Image1()->size(), QSize(300, 300));
        QCOMPARE(f->windowTitle(), QString());
        QVERIFY(f->MSComm1().PortOpen());
        QCOMPARE(f->MSComm1().Settings(), QString("2400,N,8,1"));
        QCOMPARE(f->MSComm1().RThreshold(), 2);
        QCOMPARE(f->MSComm1().InputLen(), 7);
        QCOMPARE(f->MSComm1().CommPort(), 1);
        QVERIFY(boxes().isEmpty());
        QVERIFY(f->Label(6)->isVisible());
        QVERIFY(f->Timer19()->Enabled());
        QCOMPARE(f->Timer19()->Interval(), 4000);
    }

    void storedNamesAndCaptionAreRestored() {
        testsupport::storeFactoryNames();
        Module1::WriteSetting(Setting::OFFBUTTON(3), "Porch off");
        Module1::WriteSetting("caption", "Villa Domivox");
        Form1* f = open();
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(f->Command(n)->text(), QString(testsupport::kFactoryOn[n - 1]));
        QCOMPARE(f->Command(8)->text(), QString("Porch off"));
        QCOMPARE(f->Command(10)->text(), QString("CLOSE GARAGE DOOR"));
        QCOMPARE(f->windowTitle(), QString("Villa Domivox"));
    }

    void captionFalseMeansTheProductName() {
        Module1::WriteSetting("caption", "False");
        QCOMPARE(open()->windowTitle(), QString("Domivox"));
    }

    void pictureFalseTakesTheShippedPicture() {
        writePicture(box->appDir(), "serialcable.bmp", 300, 300, "BMP");
        Module1::WriteSetting("picture", "False");
        Form1* f = open();
        QCOMPARE(f->Text69()->text(), box->appDir() + "/serialcable.bmp");
        QVERIFY(f->Image1()->hasPicture());
        QCOMPARE(f->Image1()->picture().toImage().pixelColor(10, 10), QColor(Qt::blue));
        QVERIFY(boxes().isEmpty());
        QVERIFY(f->MSComm1().PortOpen());
    }

    void pictureFalseWithoutTheShippedFileFailsTheStart() {
        Module1::WriteSetting("picture", "False");
        Module1::WriteSetting("caption", "Mine");
        Form1* f = open();
        QCOMPARE(boxes().size(), 1);
        QVERIFY(!f->MSComm1().PortOpen());
        QCOMPARE(f->windowTitle(), QString("Domivox"));
    }

    void aMissingPictureKeepsTheDesignStateAndClosesTheLink_data() {
        QTest::addColumn<bool>("exists");
        QTest::newRow("missing file") << false;
        QTest::newRow("not a picture") << true;
    }
    void aMissingPictureKeepsTheDesignStateAndClosesTheLink() {
        QFETCH(bool, exists);
        testsupport::storeFactoryNames();
        const QString path = box->appDir() + "/holiday.jpg";
        if (exists) {
            QFile junk(path);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("this is not a picture at all");
        }
        Module1::WriteSetting("picture", path);
        Module1::WriteSetting("caption", "Mine");
        Form1* f = open();
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, kStartupFailure);
        QCOMPARE(boxes()[0].style, 64);
        QCOMPARE(boxes()[0].title, QString("SETTINGS"));
        // Steps before the picture were done, the rest skipped.
        QCOMPARE(f->Command(1)->text(), QString("START TV"));
        QCOMPARE(f->Text69()->text(), path);
        QVERIFY(f->Image1()->hasPicture());  // the design picture stays
        QCOMPARE(f->Image1()->picture().size(), QSize(300, 300));
        QCOMPARE(f->windowTitle(), QString("Domivox"));
        QVERIFY(!f->MSComm1().PortOpen());
        QVERIFY(f->Timer19()->Enabled());
        f->Command(1)->click();
        QCOMPARE(box->pty().drain(), QByteArray());
        QCOMPARE(f->Label(1)->text(), QString("OFF STATE"));
    }

    void withoutAPortEverythingBeforeItIsDone() {
        box->removePort();
        testsupport::storeFactoryNames();
        // Qt reads GIF but cannot write it: the smallest GIF there is, one pixel.
        const QString pic = box->appDir() + "/garden.gif";
        QFile gif(pic);
        QVERIFY(gif.open(QIODevice::WriteOnly));
        gif.write(
            QByteArray::fromHex("47494638396101000100800000ffffff00000021f90401000000002c"
                                "00000000010001000002024401003b"));
        gif.close();
        Module1::WriteSetting("picture", pic);
        Module1::WriteSetting("caption", "Garden");
        Form1* f = open();
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].text, kStartupFailure);
        QCOMPARE(f->Command(6)->text(), QString("STOP TV"));
        QCOMPARE(f->Image1()->picture().size(), QSize(1, 1));
        QCOMPARE(f->Image1()->size(), QSize(300, 300));
        QCOMPARE(f->windowTitle(), QString("Garden"));
        QVERIFY(!f->MSComm1().PortOpen());
        QVERIFY(f->Timer19()->Enabled());
    }

    void aLargePictureIsCutNotScaled() {
        const QString pic = writePicture(box->appDir(), "wide.jpg", 600, 400, "JPG");
        Module1::WriteSetting("picture", pic);
        Form1* f = open();
        QVERIFY(boxes().isEmpty());
        QCOMPARE(f->Image1()->size(), QSize(300, 300));
        QCOMPARE(f->Image1()->picture().size(), QSize(600, 400));
        QVERIFY(!f->Image1()->hasScaledContents());
        // Set later, a picture shows at its own size.
        f->Image1()->setPicture(f->Image1()->picture());
        QCOMPARE(f->Image1()->size(), QSize(600, 400));
    }

    void theHintGoesAfterFourSeconds() {
        Form1* f = open();
        QVERIFY(f->Label(6)->isVisible());
        QTest::qWait(3000);
        QVERIFY(f->Label(6)->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!f->Label(6)->isVisible(), testsupport::allowMs(4000));
        QVERIFY(!f->Timer19()->Enabled());
    }

    // ---- menu actions -----------------------------------------------------------------

    void disclaimerAndAboutShowTheirBoxes() {
        Form1* f = open();
        f->dis_Click();
        f->about_Click();
        QCOMPARE(boxes().size(), 2);
        QCOMPARE(boxes()[0].text,
                 QString("We nor Quennart, can be held resonsible for any damages,faults, or harm "
                         "the may occur or be caused from the use of this software.  Please use "
                         "with care."));
        QCOMPARE(boxes()[0].style, 48);
        QCOMPARE(boxes()[0].title, QString("Disclaimer"));
        QCOMPARE(boxes()[1].style, 48);
        QCOMPARE(boxes()[1].title, QString("Thank you"));
        QVERIFY(boxes()[1].text.contains("Quennart"));
        QVERIFY(boxes()[1].text.contains("2026"));
        QVERIFY(!boxes()[1].text.contains('\n'));
        QVERIFY(f->isVisible());
    }

    void exitEndsEverythingAndClosesTheLink() {
        Form1* f = open();
        QPointer<const platform::SerialControl> comm = &f->MSComm1();
        f->findChild<QAction*>("exit")->trigger();
        QVERIFY(box->ended());
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        QVERIFY(comm.isNull() || !comm->PortOpen());
    }

    void closingTheWindowClosesTheLink() {
        Form1* f = open();
        const platform::SerialControl* comm = &f->MSComm1();
        QVERIFY(comm->PortOpen());
        f->close();
        QVERIFY(!comm->PortOpen());
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        QVERIFY(!box->ended());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
