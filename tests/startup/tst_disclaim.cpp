#include <QCheckBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QtTest>

#include "../support/TestSupport.h"
#include "mainwindow/Form1.h"
#include "platform/ui/WindowRegistry.h"
#include "startup/disclaim.h"
#include "startup/frmSplash.h"
#include "store/Module1.h"

using mainwindow::Form1;
using startup::disclaim;
using startup::frmSplash;

using platform::WindowRegistry;

namespace {

// The seven lines as written for one width, joined where a sentence ran on: the box wraps
// paragraphs at its own width.
const QStringList kParagraphs = {
    "By using this program you will not hold Quennart responsible for any damages or injuries "
    "this program may cause.",
    "This software should not be used to operate dangerous, harmful, life saving or any other "
    "device in which someone could be injured.  ",
    "We are not responsible for any software glitches.",
    "Use the readme file to understand correct operation of this software before use.",
    "Enjoy and have fun.  If you like our software, we do custom designs please email us for more "
    "information.  Our email is custom@quennart.example.",
};

// Every value under the program's key, read from the settings file itself.
QStringList storedNames(const QString& file) {
    if (!QFile::exists(file))
        return {};
    QStringList names;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : f.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            names << QString::fromUtf8(line.left(eq)).trimmed();
    }
    return names;
}

}  // namespace

class TestDisclaim : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;

    disclaim* open() { return WindowRegistry::show<disclaim>(); }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        WindowRegistry::setEndWhenLastWindowCloses(true);
    }
    void cleanup() {
        WindowRegistry::setEndWhenLastWindowCloses(false);
        box.reset();
    }

    void controlsStandWhereTheyWereDesigned() {
        disclaim* d = open();
        QCOMPARE(d->windowTitle(), QString("Disclaimer"));
        QCOMPARE(d->client()->size(), QSize(561, 260));
        auto* frame = d->findChild<QGroupBox*>("Frame1");
        QVERIFY(frame);
        QCOMPARE(frame->title(), QString("You must read before use!"));
        QCOMPARE(frame->geometry(), QRect(24, 8, 521, 241));
        QCOMPARE(d->Text1()->objectName(), QString("Text1"));
        QCOMPARE(d->Text1()->parentWidget(), frame);
        QCOMPARE(d->Text1()->geometry(), QRect(16, 24, 489, 129));
        QCOMPARE(d->Text1()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(d->Check1()->objectName(), QString("Check1"));
        QCOMPARE(d->Check1()->text(), QString("I agree to the disclaimer"));
        QCOMPARE(d->Check1()->geometry(), QRect(16, 192, 137, 33));
        QVERIFY(!d->Check1()->isChecked());
        QCOMPARE(d->Command1()->objectName(), QString("Command1"));
        QCOMPARE(d->Command1()->text(), QString("I disagree"));
        QCOMPARE(d->Command1()->geometry(), QRect(376, 192, 129, 33));

        // Tab order: the text, the box, the button.
        QList<QWidget*> order;
        QWidget* w = d->Text1();
        for (int i = 0; i < 50 && order.size() < 3; ++i, w = w->nextInFocusChain())
            if (w == d->Text1() || w == d->Check1() || w == d->Command1())
                if (!order.contains(w))
                    order << w;
        QCOMPARE(order, (QList<QWidget*>{d->Text1(), d->Check1(), d->Command1()}));
    }

    void theTextIsParagraphsEachEndedByCarriageReturnAndLineFeed() {
        QString expected;
        for (const QString& paragraph : kParagraphs)
            expected += paragraph + "\r\n";
        QCOMPARE(disclaim::disclaimerText(), expected);
        disclaim* d = open();
        QCOMPARE(d->Text1()->toPlainText(), kParagraphs.join('\n') + '\n');
        QVERIFY(d->Text1()->isReadOnly());
    }

    void acceptingStoresTheElevenValuesInOrderAndOpensTheMainWindow() {
        const QString first = "Please select name";
        // The names as the user is told they will read, not as the code spells them.
        const QString other = "Unnamed device";
        const std::vector<std::pair<QString, QString>> expected = {
            {"disclaimer", "1"},   {"ONBUTTON1", first},  {"ONBUTTON2", other},
            {"ONBUTTON3", other},  {"ONBUTTON4", other},  {"ONBUTTON5", other},
            {"OFFBUTTON1", first}, {"OFFBUTTON2", other}, {"OFFBUTTON3", other},
            {"OFFBUTTON4", other}, {"OFFBUTTON5", other}};
        QCOMPARE(disclaim::acceptanceSettings(), expected);

        disclaim* d = open();
        QTest::mouseClick(d->Check1(), Qt::LeftButton);

        QStringList names;
        for (const auto& [name, value] : expected) {
            QCOMPARE(Module1::ReadSetting(name), value);
            names << name;
        }
        QStringList stored = storedNames(box->settingsFile());
        stored.sort();
        names.sort();
        QCOMPARE(stored, names);

        QVERIFY(!WindowRegistry::isLoaded<disclaim>());
        Form1* main = WindowRegistry::find<Form1>();
        QVERIFY(main);
        QVERIFY(main->isVisible());
        QCOMPARE(main->Command(1)->text(), first);
        QCOMPARE(main->Command(6)->text(), first);
        for (int n = 2; n <= 5; ++n) {
            QCOMPARE(main->Command(n)->text(), other);
            QCOMPARE(main->Command(n + 5)->text(), other);
        }
        QVERIFY(!box->ended());
        QVERIFY(box->boxes().boxes.isEmpty());
    }

    void acceptingAgainReplacesNamesSetBefore() {
        for (int n = 1; n <= 5; ++n) {
            Module1::WriteSetting(Setting::ONBUTTON(n), QString("On %1").arg(n));
            Module1::WriteSetting(Setting::OFFBUTTON(n), QString("Off %1").arg(n));
        }
        Module1::WriteSetting(Setting::disclaimer, "0");
        Module1::WriteSetting(Setting::caption, "My panel");
        WindowRegistry::show<frmSplash>();
        disclaim* d = WindowRegistry::find<disclaim>();
        QVERIFY(d);
        d->Check1()->click();
        QCOMPARE(Module1::ReadSetting(Setting::disclaimer), QString("1"));
        QCOMPARE(Module1::ReadSetting(Setting::ONBUTTON(1)), QString("Please select name"));
        QCOMPARE(Module1::ReadSetting(Setting::OFFBUTTON(3)), QString("Unnamed device"));
        // Only the eleven values are touched.
        QCOMPARE(Module1::ReadSetting(Setting::caption), QString("My panel"));
        QCOMPARE(WindowRegistry::find<Form1>()->Command(8)->text(), QString("Unnamed device"));
    }

    void refusingEndsTheProgramWithNothingStored_data() {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("I disagree") << true;
        QTest::newRow("title-bar close") << false;
    }
    void refusingEndsTheProgramWithNothingStored() {
        QFETCH(bool, byButton);
        disclaim* d = open();
        if (byButton)
            QTest::mouseClick(d->Command1(), Qt::LeftButton);
        else
            d->close();
        QVERIFY(box->ended());
        QVERIFY(!WindowRegistry::isLoaded<disclaim>());
        QVERIFY(!WindowRegistry::isLoaded<Form1>());
        QVERIFY(!QFile::exists(box->settingsFile()));
        QCOMPARE(Module1::ReadSetting(Setting::disclaimer), QString());
    }

    void refusingOnAFirstStartAsksAgainNextTime() {
        QVERIFY(!WindowRegistry::show<frmSplash>());
        WindowRegistry::find<disclaim>()->Command1()->click();
        QVERIFY(box->ended());
        testsupport::flushDeletes();
        QVERIFY(!WindowRegistry::show<frmSplash>());
        QVERIFY(WindowRegistry::isLoaded<disclaim>());
    }
};

QTEST_MAIN(TestDisclaim)
#include "tst_disclaim.moc"
