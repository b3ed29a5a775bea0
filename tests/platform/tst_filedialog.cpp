#include <functional>

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include "platform/Errors.h"
#include "platform/FileDialog.h"

namespace {

// Acts on the real dialog once it is up and modal.
void whenTheDialogShows(QObject* context, std::function<void(QFileDialog*)> act) {
    auto* poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, context, [poll, act] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!d)
            return;
        poll->stop();
        poll->deleteLater();
        act(d);
    });
    poll->start(10);
}

}  // namespace

class TestFileDialog : public QObject {
    Q_OBJECT

    QTemporaryDir config;

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
        whenTheDialogShows(this, [&](QFileDialog* d) {
            shownFilters = d->nameFilters();
            preselected = d->selectedNameFilter();
            modalToOwner = d->isModal() && d->parentWidget() == &owner;
            d->selectFile(first);
            static_cast<QDialog*>(d)->accept();  // QFileDialog hides it
        });
        QVERIFY(dialog.ShowOpen());
        QCOMPARE(dialog.FileName(), first);
        QCOMPARE(shownFilters, (QStringList{"JPG Files (*.jpg)", "GIF Files (*.gif)"}));
        QCOMPARE(preselected, QString("GIF Files (*.gif)"));
        QVERIFY(modalToOwner);

        // The next showing starts where the last file was found, first filter preselected.
        dialog.setFilterIndex(1);
        QString startedIn;
        whenTheDialogShows(this, [&](QFileDialog* d) {
            startedIn = d->directory().absolutePath();
            preselected = d->selectedNameFilter();
            d->selectFile("second.jpg");
            static_cast<QDialog*>(d)->accept();  // QFileDialog hides it
        });
        QVERIFY(dialog.ShowOpen());
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
        whenTheDialogShows(this, [&](QFileDialog* d) {
            d->selectFile(chosen);
            static_cast<QDialog*>(d)->accept();  // QFileDialog hides it
        });
        QVERIFY(dialog.ShowOpen());
        whenTheDialogShows(this, [&](QFileDialog* d) {
            d->selectFile(chosen);
            d->reject();
        });
        QVERIFY(!dialog.ShowOpen());
        QCOMPARE(dialog.FileName(), chosen);
    }
};

QTEST_MAIN(TestFileDialog)
#include "tst_filedialog.moc"
