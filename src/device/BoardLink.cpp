#include "device/BoardLink.h"

#include "platform/Errors.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/MessageBox.h"

namespace device {

BoardLink::BoardLink(QObject* owner) : QObject(owner), port_(new platform::SerialControl(this)) {
    setObjectName(QStringLiteral("BoardLink"));
    port_->setObjectName(QStringLiteral("MSComm1"));
}

void BoardLink::open() {
    port_->setRThreshold(2);
    port_->setInputLen(7);
    port_->setSettings(QStringLiteral("2400,N,8,1"));
    port_->setDTREnable(true);
    port_->setCommPort(1);
    port_->setPortOpen(true);
}

void BoardLink::close() {
    port_->setPortOpen(false);
}

bool BoardLink::send(DeviceCommand command) {
    try {
        port_->Output(QString(QLatin1Char(command.letter())));
    } catch (const platform::RuntimeError& e) {
        lastError_ = e.message();
        return false;
    }
    failures_.endRun();
    return true;
}

bool BoardLink::tellOnce(const QString& text, const QString& title) {
    if (!failures_.firstOfRun())
        return false;
    platform::MsgBox(text, platform::vbExclamation, title);
    return true;
}

QString BoardLink::failureText() const {
    QString text = QStringLiteral(
                       "The command could not be sent to the controller board on serial port %1 "
                       "(%2): %3.\n\n%4")
                       .arg(port_->CommPort())
                       .arg(port_->devicePath(), port_->lastFailure(),
                            platform::SerialControl::adviceFor(port_->lastFailureKind()));
    // A port that did not open at start stays closed until the window starts again.
    if (!port_->PortOpen())
        text += QStringLiteral(
            "\n\nThe port is not open: once that is done, restart Domivox, which opens the port "
            "when it starts.");
    return text;
}

void BoardLink::dropDtr() {
    port_->setDTREnable(false);
}

}  // namespace device
