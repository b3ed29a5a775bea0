#pragma once

#include "platform/ui/Window.h"

class QGroupBox;
class QLabel;

namespace platform {
class IntervalTimer;
}

namespace startup {

// The first window of the program. With the disclaimer accepted it shows the product name and
// version for 2.5 seconds and then opens the main window; otherwise it hands over to the
// disclaimer window at once without ever being drawn. Either way it closes itself.
class frmSplash : public platform::Window {
    Q_OBJECT
public:
    frmSplash();

    platform::IntervalTimer* Timer2() const { return timer2_; }

    // "Version <major>.<minor>.<revision>", each a plain decimal number.
    static QString versionText(int major, int minor, int revision);

    void Timer2_Timer();

protected:
    void Form_Load() override;

    // The splash cannot be dismissed early: keys, clicks and a close request from the window
    // manager are swallowed.
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* addLabel(const char* name, const char* text, int left, int top, double points,
                     bool bold, Qt::Alignment alignment);

    QGroupBox* frame1_ = nullptr;
    QLabel* imgLogo_ = nullptr;
    QLabel* lblProductName_ = nullptr;
    QLabel* lblVersion_ = nullptr;
    platform::IntervalTimer* timer2_ = nullptr;
};

}  // namespace startup
