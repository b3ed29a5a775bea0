#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QtTest>

#include "../support/TestSupport.h"
#include "device/BoardLink.h"
#include "device/Module2.h"
#include "mainwindow/Form1.h"
#include "platform/Errors.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/PollRemotePage.h"
#include "remote/internetsettings.h"
#include "store/Module1.h"

using device::BoardLink;
using device::DeviceCommand;
using mainwindow::Form1;
using remote::internetsettings;

using platform::WindowRegistry;

class TestBoardLink : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

    QStringList titles() const {
        QStringList t;
        for (const auto& b : box->boxes().boxes)
            t << b.title;
        return t;
    }

private Q_SLOTS:
    void init() { box = std::make_unique<testsupport::Sandbox>(); }
    void cleanup() { box.reset(); }

    void sendSaysWhetherTheLetterWentOut() {
        BoardLink link(nullptr);
        link.open();
        for (int n = 1; n <= 10; ++n)
            QVERIFY(link.send(DeviceCommand::forButton(n)));
        QCOMPARE(box->pty().read(10), QByteArray("acegibdfhj"));
        link.close();
        QVERIFY(!link.send(DeviceCommand{3, true}));
        QVERIFY(!link.lastError().isEmpty());
        QCOMPARE(box->pty().drain(), QByteArray());
        QVERIFY(box->boxes().boxes.isEmpty());  // sending never tells; the caller decides
    }

    // Steps: u unplug, p plug back, B a main-window button, T a device action whose caller
    // tells nobody (as the timer function, whose own trap speaks), P a poll of a page whose
    // title switches device 1.
    void oneRunOfFailuresIsToldOnceWhoeverMeetsIt_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("button, then the poller") << "uBPB" << QStringList{"Serial port"};
        QTest::newRow("poller, then a button") << "uPBP" << QStringList{"Internet Control"};
        QTest::newRow("a timer letter ends the run")
            << "uBpTuB" << QStringList{"Serial port", "Serial port"};
        QTest::newRow("a poller letter ends the run")
            << "uBpPuP" << QStringList{"Serial port", "Internet Control"};
        QTest::newRow("a failure nobody told leaves the run untold")
            << "uTB" << QStringList{"Serial port"};
    }
    void oneRunOfFailuresIsToldOnceWhoeverMeetsIt() {
        QFETCH(QString, steps);
        QFETCH(QStringList, told);
        const QString page = box->appDir() + "/remote.html";
        {
            QFile f(page);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("<html><head><title>10000</title></head><body></body></html>");
        }
        Module1::WriteSetting(Setting::Address, QUrl::fromLocalFile(page).toString());
        Form1* main = WindowRegistry::show<Form1>();
        internetsettings* poller = WindowRegistry::load<internetsettings>();
        QTRY_COMPARE(poller->WebBrowser1()->LocationName(), QString("10000"));
        // The window's own clocks would reload and poll on their own time; the steps poll by
        // hand.
        for (platform::IntervalTimer* t :
             {poller->Timer2(), poller->Timer1(), poller->Timer4(), poller->Timer3()})
            t->setEnabled(false);
        for (const QChar step : steps) {
            switch (step.toLatin1()) {
                case 'u':
                    main->boardLink().close();
                    break;
                case 'p':
                    main->boardLink().open();
                    break;
                case 'B':
                    main->Command(2)->click();
                    break;
                case 'T':
                    try {
                        Module2::DeviceAction(3, true);
                    } catch (const platform::RuntimeError&) {
                    }
                    break;
                case 'P':
                    remote::PollRemotePage();
                    break;
            }
        }
        QCOMPARE(titles(), told);
    }
};

QTEST_MAIN(TestBoardLink)
#include "tst_boardlink.moc"
