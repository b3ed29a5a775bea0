#pragma once

#include <utility>
#include <vector>

#include "platform/ui/Window.h"

class QCheckBox;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;

namespace startup {

// The disclaimer that stands between the first start and the main window. Ticking the box
// records the acceptance with the first button names and opens the main window; "I disagree",
// or closing the window, ends the program with nothing stored.
class disclaim : public platform::Window {
    Q_OBJECT
public:
    disclaim();

    // The disclaimer text: five paragraphs, each ended by CR LF, blanks at their ends included.
    static QString disclaimerText();
    // The name given to the ON and OFF buttons of devices 2 to 5 on acceptance.
    static QString placeholderName();
    // What acceptance stores, in the order it is stored: the acceptance itself first.
    static std::vector<std::pair<QString, QString>> acceptanceSettings();

    QPlainTextEdit* Text1() const { return text1_; }
    QCheckBox* Check1() const { return check1_; }
    QPushButton* Command1() const { return command1_; }

    void Check1_Click();
    void Command1_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QGroupBox* frame1_ = nullptr;
    QPlainTextEdit* text1_ = nullptr;
    QCheckBox* check1_ = nullptr;
    QPushButton* command1_ = nullptr;
};

}  // namespace startup
