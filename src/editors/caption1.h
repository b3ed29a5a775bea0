#pragma once

#include "platform/ui/Window.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace platform {
class FileDialog;
class PictureBox;
}  // namespace platform

namespace editors {

// The caption and picture editor: chooses the main window's picture and its title, shows both
// there at once and stores them for its next start.
class caption1 : public platform::Window {
    Q_OBJECT
public:
    caption1();

    QPushButton* Command1() const { return command1_; }
    QPushButton* Command2() const { return command2_; }
    QLineEdit* Text2() const { return text2_; }
    platform::PictureBox* Image1() const { return image1_; }
    platform::FileDialog* CommonDialog1() const { return commonDialog1_; }

    void Command1_Click();  // Select Picture
    void Command2_Click();  // Save Caption
    void close_Click();

private:
    QGroupBox* frame1_ = nullptr;
    QGroupBox* frame2_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QLineEdit* text2_ = nullptr;
    platform::PictureBox* image1_ = nullptr;
    platform::FileDialog* commonDialog1_ = nullptr;
};

}  // namespace editors
