#pragma once

#include "mqtt/MqttConfig.h"
#include "platform/ui/Window.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace mqtt {

// The broker settings window: where the panel connects, how it logs in, the base topic and
// discovery, Connect and Disconnect, and a line that says what the connection is doing.
class mqttsettings : public platform::Window {
    Q_OBJECT
public:
    mqttsettings();

    QLineEdit* Text1() const { return text_[0]; }  // host
    QLineEdit* Text2() const { return text_[1]; }  // port
    QLineEdit* Text3() const { return text_[2]; }  // CA file
    QLineEdit* Text4() const { return text_[3]; }  // user name
    QLineEdit* Text5() const { return text_[4]; }  // password
    QLineEdit* Text6() const { return text_[5]; }  // base topic
    QCheckBox* Check1() const { return check1_; }  // TLS
    QCheckBox* Check2() const { return check2_; }  // discovery
    QPushButton* Command1() const { return command1_; }
    QPushButton* Command2() const { return command2_; }
    QLabel* lblStatus() const { return status_; }

    void Command1_Click();  // Connect
    void Command2_Click();  // Disconnect

protected:
    void Form_Load() override;

private:
    void buildControls();
    // The fields as a configuration; false (and the reason on the status line) when unusable.
    bool readFields(MqttConfig* config);

    QLineEdit* text_[6] = {};
    QCheckBox* check1_ = nullptr;
    QCheckBox* check2_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace mqtt
