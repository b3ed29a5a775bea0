#include <functional>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include "platform/Errors.h"
#include "platform/ui/FileDialog.h"
#include "support/TestSupport.h"

namespace {

// Acts on the real dialog once it is up and modal. A dialog that does not take the answer (a
// warning box on top of it) is closed after a few seconds, so the test fails instead of hanging.
class DialogDriver : public QObject {
public:
    explicit DialogDriver(std::function<void(QFileDialog*)> act) : act_(std::move(act)) {
        connect(&poll_, &QTimer::timeout, this, &DialogDriver::tick);
        poll_.start(10);
        since_.start();
    }

private:
    void tick() {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!acted_ && dialog) {
            acted_ = true;
            act_(dialog);
        } else if (modal && since_.hasExpired(testsupport::allowMs(5000))) {
            if (auto* d = qobject_cast<QDialog*>(modal))
                d->reject();
            else
                modal->close();
        }
    }

    std::function<void(QFileDialog*)> act_;
    QTimer poll_;
    QElapsedTimer since_;
    bool acted_ = false;
};

// Types a name into the dialog's file name field, as the user would. (selectFile leaves the
// field alone while it has the focus.)
void typeName(QFileDialog* d, const QString& name) {
    auto* field = d->findChild<QLineEdit*>("fileNameEdit");
    QVERIFY(field);
    field->setText(name);
}

}  // namespace

class TestFileDialog : public QObject {
    Q_OBJECT

    QTemporaryDir config;

    static bool showAnswering(platform::FileDialog& dialog, std::function<void(QFileDialog*)> act) {
        DialogDriver driver(std::move(act));
        return dialog.ShowOpen();
    }

private Q_SLOTS:
    // The widget dialog remembers its state in the user's settings folder: keep that private.
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }

    void filterListsBecomeTheDialogsFilters_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QStringList>("filters");
        QTest::newRow("pictures")
            << "JPG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|BMP Files (*.bmp)|*.bmp"
            << QStringList{"JPG Files (*.jpg)", "GIF Files (*.gif)", "BMP Files (*.bmp)"};
        QTest::newRow("patterns not shown")
            << "Pictures|*.jpg;*.png|All files|*.*"
            << QStringList{"Pictures (*.jpg *.png)", "All files (*.*)"};
        QTest::newRow("shown differently")
            << "JPEG (*.jpg)|*.jpg;*.jpeg" << QStringList{"JPEG (*.jpg) (*.jpg *.jpeg)"};
        QTest::newRow("no description") << "|*.txt" << QStringList{"(*.txt)"};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void filterListsBecomeTheDialogsFilters() {
        QFETCH(QString, list);
        QFETCH(QStringList, filters);
        QCOMPARE(platform::nameFilters(platform::parseFilterList(list)), filters);
    }

    void aMalformedFilterListIsRefusedAndTheOldOneKept_data() {
        QTest::addColumn<QString>("list");
        QTest::newRow("description without pattern") << "JPG Files|*.jpg|GIF Files";
        QTest::newRow("empty pattern") << "JPG Files|";
        QTest::newRow("only separators") << "JPG Files|;;";
    }
    void aMalformedFilterListIsRefusedAndTheOldOneKept() {
        QFETCH(QString, list);
        QWidget owner;
        platform::FileDialog dialog(&owner);
        dialog.setFilter("Text|*.txt");
        QVERIFY_THROWS_EXCEPTION(platform::RuntimeError, dialog.setFilter(list));
        QCOMPARE(dialog.Filter(), QString("Text|*.txt"));
    }

    void theRealDialogReportsTheChosenFullPath() {
        QTemporaryDir dir;
        const QString first = dir.path() + "/first.gif";
        const QString second = dir.path() + "/second.jpg";
        for (const QString& path : {first, second}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        QWidget owner;
        platform::FileDialog dialog(&owner);
        dialog.setFilter("JPG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif");
        dialog.setFilterIndex(2);

        QStringList shownFilters;
        QString preselected;
        bool modalToOwner = false;
        QVERIFY(showAnswering(dialog, [&](QFileDialog* d) {
            shownFilters = d->nameFilters();
            preselected = d->selectedNameFilter();
            modalToOwner = d->isModal() && d->parentWidget() == &owner;
            typeName(d, first);
            static_cast<QDialog*>(d)->accept();  // QFileDialog hides it
        }));
        QCOMPARE(dialog.FileName(), first);
        QCOMPARE(shownFilters, (QStringList{"JPG Files (*.jpg)", "GIF Files (*.gif)"}));
        QCOMPARE(preselected, QString("GIF Files (*.gif)"));
        QVERIFY(modalToOwner);

        // The next showing starts where the last file was found, first filter preselected.
        dialog.setFilterIndex(1);
        QString startedIn;
        QVERIFY(showAnswering(dialog, [&](QFileDialog* d) {
            startedIn = d->directory().absolutePath();
            preselected = d->selectedNameFilter();
            typeName(d, second);
            static_cast<QDialog*>(d)->accept();  // QFileDialog hides it
        }));
        QCOMPARE(startedIn, QDir(dir.path()).absolutePath());
        QCOMPARE(preselected, QString("JPG Files (*.jpg)"));
        QCOMPARE(dialog.FileName(), second);
    }

    void cancellingTheRealDialogKeepsTheLastName() {
        QTemporaryDir dir;
        const QString chosen = dir.path() + "/kept.bmp";
        QFile f(chosen);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QWidget owner;
        platform::FileDialog dialog(&owner);
        dialog.setFilter("BMP Files (*.bmp)|*.bmp");
        QVERIFY(showAnswering(dialog, [&](QFileDialog* d) {
            typeName(d, chosen);
            static_cast<QDialog*>(d)->accept();  // QFileDialog hides it
        }));
        QVERIFY(!showAnswering(dialog, [&](QFileDialog* d) {
            typeName(d, chosen);
            d->reject();
        }));
        QCOMPARE(dialog.FileName(), chosen);
    }
};

QTEST_MAIN(TestFileDialog)
#include "tst_filedialog.moc"
