#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "../support/TestSupport.h"
#include "device/BoardLink.h"
#include "device/MainPanel.h"
#include "device/Module2.h"
#include "platform/ui/PictureBox.h"
#include "platform/ui/Window.h"

using device::BoardLink;

// The device room on its own, without the main window above it: the device actions reach
// whatever main window is installed, and nothing when none is.
namespace {

struct Shown {
    int device;
    QString caption;
    bool on;
};

class StandIn : public platform::Window, public device::MainPanel {
public:
    StandIn() : link_(new BoardLink(this)), image_(new platform::PictureBox(client())) {
        for (int n = 1; n <= 10; ++n)
            commands_[n - 1] = new QPushButton(QStringLiteral("button %1").arg(n), client());
        for (QLabel*& l : labels_)
            l = new QLabel(client());
        link_->open();
    }
    platform::Window& window() override { return *this; }
    QString buttonCaption(int n) const override { return commands_.at(n - 1)->text(); }
    void setButtonCaption(int n, const QString& caption) override {
        commands_.at(n - 1)->setText(caption);
    }
    platform::PictureBox* Image1() const override { return image_; }
    BoardLink& boardLink() const override { return *link_; }
    void showStatus(int device, const QString& caption, bool on) override {
        shown.push_back({device, caption, on});
    }

    std::vector<Shown> shown;

private:
    BoardLink* link_;
    platform::PictureBox* image_;
    std::array<QPushButton*, 10> commands_{};
    std::array<QLabel*, 6> labels_{};
};

}  // namespace

class TestMainPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<StandIn> panel;
    int loads = 0;

    void installStandIn(bool loadFails = false) {
        device::installMainPanel({[this]() -> device::MainPanel* { return panel.get(); },
                                  [this, loadFails]() -> device::MainPanel* {
                                      if (loadFails)
                                          return nullptr;
                                      if (!panel) {
                                          ++loads;
                                          panel = std::make_unique<StandIn>();
                                      }
                                      return panel.get();
                                  }});
    }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        loads = 0;
    }
    void cleanup() {
        device::installMainPanel({});
        panel.reset();
        box.reset();
    }

    void withoutAMainWindowNothingIsFoundAndNothingSent() {
        QCOMPARE(device::findMainPanel(), nullptr);
        QCOMPARE(device::loadMainPanel(), nullptr);
        device::showMainPanel();
        Module2::DeviceAction(1, true);
        QCOMPARE(box->pty().drain(), QByteArray());
    }

    void aDeviceActionLoadsTheMainWindowAndNamesTheSendingButton_data() {
        QTest::addColumn<int>("device");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QByteArray>("letter");
        QTest::addColumn<QString>("caption");
        QTest::newRow("1 on") << 1 << true << QByteArray("a") << "button 1";
        QTest::newRow("1 off") << 1 << false << QByteArray("b") << "button 6";
        QTest::newRow("3 on") << 3 << true << QByteArray("e") << "button 3";
        QTest::newRow("5 off") << 5 << false << QByteArray("j") << "button 10";
    }
    void aDeviceActionLoadsTheMainWindowAndNamesTheSendingButton() {
        QFETCH(int, device);
        QFETCH(bool, on);
        QFETCH(QByteArray, letter);
        QFETCH(QString, caption);
        installStandIn();
        QCOMPARE(device::findMainPanel(), nullptr);
        Module2::DeviceAction(device, on);
        QCOMPARE(loads, 1);
        QVERIFY(device::findMainPanel());
        QVERIFY(!panel->isVisible());  // loaded, not shown
        QCOMPARE(box->pty().read(1), letter);
        QCOMPARE(panel->shown.size(), std::size_t(1));
        QCOMPARE(panel->shown[0].device, device);
        QCOMPARE(panel->shown[0].caption, caption);
        QCOMPARE(panel->shown[0].on, on);
        // A second action uses the window that is there.
        Module2::DeviceAction(device, on);
        QCOMPARE(loads, 1);
        QCOMPARE(panel->shown.size(), std::size_t(2));
    }

    void aMainWindowThatUnloadsItselfOnLoadGetsNothing() {
        installStandIn(true);
        Module2::DeviceAction(2, true);
        QCOMPARE(box->pty().drain(), QByteArray());
        device::showMainPanel();
        QCOMPARE(panel.get(), nullptr);
    }

    void showingTheMainWindowLoadsAndShowsIt() {
        installStandIn();
        device::showMainPanel();
        QCOMPARE(loads, 1);
        QVERIFY(panel->isVisible());
        QCOMPARE(box->pty().drain(), QByteArray());
    }
};

QTEST_MAIN(TestMainPanel)
#include "tst_mainpanel.moc"
