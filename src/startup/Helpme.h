#pragma once

#include "platform/ui/Window.h"

class QGroupBox;

namespace platform {
class RichTextBox;
}

namespace startup {

// The help window: shows the manual, README.RTF from the program's directory, read afresh each
// time the window opens. When the manual cannot be shown the user is told so and the window
// goes without having appeared.
class Helpme : public platform::Window {
    Q_OBJECT
public:
    Helpme();

    platform::RichTextBox* RichTextBox1() const { return richTextBox1_; }

    void close_Click();

protected:
    void Form_Load() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followClientSize();

    QGroupBox* frame1_ = nullptr;
    platform::RichTextBox* richTextBox1_ = nullptr;
};

}  // namespace startup
