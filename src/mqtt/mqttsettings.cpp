#include "mqtt/mqttsettings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "mqtt/MqttBridge.h"
#include "mqtt/MqttTopics.h"
#include "platform/ui/Controls.h"

namespace mqtt {

mqttsettings::mqttsettings() {
    setObjectName(QStringLiteral("mqttsettings"));
    setCaption(QStringLiteral("MQTT Settings"));
    setClientSizeTwips(7800, 5280);
    buildControls();
    addMenuItem(addMenu(QStringLiteral("file"), QStringLiteral("File")), QStringLiteral("exit"),
                QStringLiteral("Exit"), [this] { Unload(); });
}

void mqttsettings::buildControls() {
    using platform::addCheckBox;
    using platform::addFrame;
    using platform::addLabel;
    using platform::addTextBox;
    QWidget* c = client();

    QGroupBox* broker = addFrame(c, "Frame1", "Broker", 120, 120, 7560, 1935);
    addLabel(broker, "Label1", "Host", 120, 390, 1200, 255);
    text_[0] = addTextBox(broker, "Text1", QString(), 1440, 330, 3735, 315);
    addLabel(broker, "Label2", "Port", 5340, 390, 600, 255);
    text_[1] = addTextBox(broker, "Text2", QString(), 6000, 330, 1215, 315);
    check1_ = addCheckBox(broker, "Check1", "Use TLS", 120, 840, 3000, 315);
    addLabel(broker, "Label3", "CA file", 120, 1350, 1200, 255);
    text_[2] = addTextBox(broker, "Text3", QString(), 1440, 1290, 5775, 315);
    text_[2]->setPlaceholderText(QStringLiteral("empty: the system's certificate authorities"));

    QGroupBox* login = addFrame(c, "Frame2", "Login", 120, 2160, 3720, 1335);
    addLabel(login, "Label4", "User name", 120, 390, 1320, 255);
    text_[3] = addTextBox(login, "Text4", QString(), 1440, 330, 2160, 315);
    addLabel(login, "Label5", "Password", 120, 870, 1320, 255);
    text_[4] = addTextBox(login, "Text5", QString(), 1440, 810, 2160, 315);
    text_[4]->setEchoMode(QLineEdit::Password);

    QGroupBox* topics = addFrame(c, "Frame3", "Topics", 3960, 2160, 3720, 1335);
    addLabel(topics, "Label6", "Base topic", 120, 390, 1200, 255);
    text_[5] = addTextBox(topics, "Text6", QString(), 1320, 330, 2280, 315);
    check2_ = addCheckBox(topics, "Check2", "Home Assistant discovery", 120, 810, 3480, 315);

    command1_ = platform::addButton(c, "Command1", "Connect", 120, 3600, 1695, 375);
    command2_ = platform::addButton(c, "Command2", "Disconnect", 1935, 3600, 1695, 375);
    status_ = addLabel(c, "lblStatus", QString(), 120, 4080, 7560, 1095);

    connect(command1_, &QPushButton::clicked, this, &mqttsettings::Command1_Click);
    connect(command2_, &QPushButton::clicked, this, &mqttsettings::Command2_Click);
    MqttBridge& bridge = MqttBridge::instance();
    connect(&bridge, &MqttBridge::statusChanged, status_, &QLabel::setText);
}

void mqttsettings::Form_Load() {
    const MqttConfig c = MqttConfig::load();
    text_[0]->setText(c.host);
    text_[1]->setText(QString::number(c.port));
    check1_->setChecked(c.tls);
    text_[2]->setText(c.caFile);
    text_[3]->setText(c.user);
    text_[4]->setText(c.password);
    text_[5]->setText(c.baseTopic);
    check2_->setChecked(c.discovery);
    status_->setText(MqttBridge::instance().statusText());
}

bool mqttsettings::readFields(MqttConfig* c) {
    bool ok = false;
    c->host = text_[0]->text().trimmed();
    c->port = text_[1]->text().trimmed().toInt(&ok);
    if (!ok || c->port < 1 || c->port > 65535) {
        status_->setText(QStringLiteral("The port must be a number from 1 to 65535."));
        return false;
    }
    c->tls = check1_->isChecked();
    c->caFile = text_[2]->text().trimmed();
    c->user = text_[3]->text();
    c->password = text_[4]->text();
    c->baseTopic = text_[5]->text().trimmed();
    if (!validBaseTopic(c->baseTopic)) {
        status_->setText(QStringLiteral("The base topic must be a topic without + or #, empty "
                                        "levels or a leading $, for example %1.")
                             .arg(defaultBaseTopic()));
        return false;
    }
    c->discovery = check2_->isChecked();
    return true;
}

void mqttsettings::Command1_Click() {
    MqttConfig c;
    if (!readFields(&c))
        return;
    if (c.host.isEmpty()) {
        status_->setText(QStringLiteral("Type the broker's host name or address first."));
        return;
    }
    c.connectAtStart = true;
    c.save();
    MqttBridge::instance().connectTo(c);
}

void mqttsettings::Command2_Click() {
    MqttConfig c;
    // What is typed is kept even when it cannot be used yet; only the choice matters here.
    if (!readFields(&c))
        c = MqttConfig::load();
    c.connectAtStart = false;
    c.save();
    MqttBridge::instance().disconnectFrom();
}

}  // namespace mqtt
