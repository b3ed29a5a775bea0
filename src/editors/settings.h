#pragma once

#include <array>

#include "platform/ui/Window.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace editors {

// The names editor: the ten device button names of the main window, stored in two halves and
// put on the buttons when the editor closes.
class settings : public platform::Window {
    Q_OBJECT
public:
    settings();

    // Text1..Text5 name the ON buttons Command1..Command5, Text6..Text10 the OFF buttons.
    QLineEdit* Text(int n) const { return texts_.at(n - 1); }  // 1..10
    QPushButton* Command1() const { return command1_; }
    QPushButton* Command2() const { return command2_; }

    void Command1_Click();  // UPDATE ON BUTTONS
    void Command2_Click();  // UPDATE OFF BUTTONS
    void close_Click();

protected:
    void Form_Load() override;
    void Form_Unload() override;

private:
    std::array<QLineEdit*, 10> texts_{};
    QGroupBox* frame1_ = nullptr;
    QGroupBox* frame2_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
};

}  // namespace editors
