#pragma once

#include <array>

#include "device/MainPanel.h"
#include "platform/ui/Window.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class IntervalTimer;
class PictureBox;
class SerialControl;
}  // namespace platform

namespace mainwindow {

// The main window: ten device buttons, five status lines, the user's picture, the menu that
// opens every other window, and the link to the controller board. It stands above every other
// room: the windows it opens reach it only as a device::MainPanel.
class Form1 : public platform::Window, public device::MainPanel {
    Q_OBJECT
public:
    Form1();

    // Lets the rooms below find and load the main window (device::findMainPanel and
    // device::loadMainPanel). Done once, by whatever includes this header (see below).
    static void install();

    platform::Window& window() override { return *this; }

    QString buttonCaption(int n) const override;
    void setButtonCaption(int n, const QString& caption) override;

    QPushButton* Command(int n) const { return commands_.at(n - 1); }  // 1..10
    QLabel* Label(int n) const { return labels_.at(n - 1); }           // 1..6
    platform::PictureBox* Image1() const override { return image1_; }
    QLineEdit* Text69() const { return text69_; }
    QLineEdit* text20() const { return text20_; }
    // The link every command letter goes through, whichever window asks; MSComm1 is its port.
    device::BoardLink& boardLink() const override { return *link_; }
    const platform::SerialControl& MSComm1() const;
    platform::IntervalTimer* Timer19() const { return timer19_; }

    void showStatus(int device, const QString& caption, bool on) override;

    // The ten device buttons.
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();
    void Command9_Click();
    void Command10_Click();

    void MSComm1_OnComm();
    void Timer19_Timer();

    // Menu.
    void controlname_Click();
    void cap_Click();
    void tmfunction_Click();
    void lock_Click();
    void dis_Click();
    void exit_Click();
    void oncon_Click();
    void off_Click();
    void internet_Click();
    void mqtt_Click();
    void about_Click();
    void helpit_Click();

Q_SIGNALS:
    // A status line announced a command that went out; lets a watcher follow the board's state
    // without reading label texts.
    void statusShown(int device, bool on);

protected:
    void Form_Load() override;
    void releaseResources() override;

private:
    void buildControls();
    void buildMenu();
    void sendFromButton(int button);

    std::array<QPushButton*, 10> commands_{};
    std::array<QLabel*, 6> labels_{};
    QGroupBox* frame1_ = nullptr;
    QGroupBox* frame2_ = nullptr;
    QGroupBox* frame3_ = nullptr;
    platform::PictureBox* image1_ = nullptr;
    QLineEdit* text69_ = nullptr;
    QLineEdit* text20_ = nullptr;
    device::BoardLink* link_ = nullptr;
    platform::IntervalTimer* timer19_ = nullptr;
};

// The program and every test that holds the main window can load it from below; an inline
// variable runs its initialiser once however many files include this.
inline const bool kForm1Installed = (Form1::install(), true);

}  // namespace mainwindow
