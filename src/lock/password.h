#pragma once

#include "platform/ui/Window.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace platform {
class IntervalTimer;
}

namespace lock {

// The lock window: disables the main window behind the stored password, enables it again and
// changes the password.
class password : public platform::Window {
    Q_OBJECT
public:
    password();

    QLineEdit* Text1() const { return text1_; }
    QLineEdit* Text2() const { return text2_; }
    QLineEdit* Text3() const { return text3_; }
    QPushButton* Command1() const { return command1_; }
    QPushButton* Command2() const { return command2_; }
    QPushButton* Command3() const { return command3_; }
    platform::IntervalTimer* Timer1() const { return timer1_; }

    void Command1_Click();  // Lock Program
    void Command2_Click();  // Unlock Program
    void Command3_Click();  // New Password
    void Timer1_Timer();

private:
    bool passwordMatches();

    QGroupBox* frame1_ = nullptr;
    QGroupBox* frame2_ = nullptr;
    QLineEdit* text1_ = nullptr;
    QLineEdit* text2_ = nullptr;
    QLineEdit* text3_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command3_ = nullptr;
    platform::IntervalTimer* timer1_ = nullptr;
};

}  // namespace lock
