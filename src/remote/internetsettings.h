#pragma once

#include <array>

#include "platform/ui/Window.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace platform {
class IntervalTimer;
class WebBrowser;
}  // namespace platform

namespace remote {

// The internet settings window: the address of the user's control page, its refresh time and a
// preview of it. It also carries the remote command poller: while it is loaded (shown or
// minimised) its four clocks reload the page, watch its title and switch device 1 by it.
class internetsettings : public platform::Window {
    Q_OBJECT
public:
    internetsettings();

    QLineEdit* Text1() const { return text1_; }
    QLineEdit* Text2() const { return text2_; }
    QPlainTextEdit* Text3() const { return text3_; }
    QLabel* Label1() const { return label1_; }
    QPushButton* Command1() const { return command1_; }
    QPushButton* Command2() const { return command2_; }
    platform::WebBrowser* WebBrowser1() const { return webBrowser1_; }

    // The poller's hidden fields.
    QLineEdit* Text30() const { return text30_; }
    QLineEdit* Text4() const { return hidden_[0]; }
    QLineEdit* Text5() const { return hidden_[1]; }
    QLineEdit* Text6() const { return hidden_[2]; }
    QLineEdit* Text7() const { return hidden_[3]; }
    QLineEdit* Text8() const { return hidden_[4]; }
    QLineEdit* Text9() const { return text9_; }

    platform::IntervalTimer* Timer1() const { return timer1_; }  // reload clock
    platform::IntervalTimer* Timer2() const { return timer2_; }  // readiness watcher
    platform::IntervalTimer* Timer3() const { return timer3_; }  // poll clock
    platform::IntervalTimer* Timer4() const { return timer4_; }  // change watcher

    // Puts characters 1 to 5 of Text30 into Text4 to Text8, empty past its end.
    void splitText30();

    void Command1_Click();  // Save Address
    void Command2_Click();  // Update
    void exit_Click();

    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();

    // The reload interval a window loads with when no usable refresh time is stored.
    static constexpr int kDefaultRefreshMs = 3000;

protected:
    void Form_Load() override;

private:
    void buildControls();
    void buildMenu();
    void declareWatcherReads();

    QGroupBox* frame1_ = nullptr;
    QGroupBox* frame2_ = nullptr;
    QGroupBox* frame3_ = nullptr;
    QGroupBox* frame4_ = nullptr;
    QLineEdit* text1_ = nullptr;
    QLineEdit* text2_ = nullptr;
    QPlainTextEdit* text3_ = nullptr;
    QLabel* label1_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    platform::WebBrowser* webBrowser1_ = nullptr;
    QLineEdit* text30_ = nullptr;
    std::array<QLineEdit*, 5> hidden_{};
    QLineEdit* text9_ = nullptr;
    platform::IntervalTimer* timer1_ = nullptr;
    platform::IntervalTimer* timer2_ = nullptr;
    platform::IntervalTimer* timer3_ = nullptr;
    platform::IntervalTimer* timer4_ = nullptr;
};

}  // namespace remote
