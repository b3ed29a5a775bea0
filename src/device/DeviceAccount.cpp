#include "device/DeviceAccount.h"

#include <QTimer>

#include "device/BoardLink.h"
#include "device/MainPanel.h"
#include "device/Module2.h"
#include "platform/serial/SerialControl.h"
#include "store/Module1.h"

namespace device {
namespace {

// The ON button names the device for a main-window button, the bus and MQTT; the countdown and
// the web page show the button that sends this very command.
bool namedByOnButton(Sender sender) {
    return sender == Sender::Button || sender == Sender::Bus || sender == Sender::Mqtt;
}

// The unattended sources space their commands a quarter of a second apart on the board.
bool pausesAfter(Sender sender) {
    return sender == Sender::Countdown || sender == Sender::WebPage;
}

QString onOff(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

}  // namespace

DeviceAccount& DeviceAccount::instance() {
    static DeviceAccount* account = new DeviceAccount;  // lives as long as the program
    return *account;
}

SwitchResult DeviceAccount::switchDevice(int device, bool on, Sender sender) {
    if (!DeviceCommand::valid(device))
        return {SwitchResult::Failure::NoSuchDevice,
                QStringLiteral("There is no device %1: Domivox switches devices 1 to %2.")
                    .arg(device)
                    .arg(DeviceCommand::kDevices)};
    MainPanel* panel = loadMainPanel();
    if (!panel)
        return {SwitchResult::Failure::NoPort,
                QStringLiteral("The main window could not be loaded, so serial port 1 is not "
                               "open: start Domivox again.")};
    const DeviceCommand command{device, on};
    BoardLink& link = panel->boardLink();
    if (!link.send(command))
        return failed(*panel, command, sender);

    const int named = namedByOnButton(sender) ? device : command.button();
    panel->showStatus(device, panel->buttonCaption(named), on);
    const DeviceState now = on ? DeviceState::On : DeviceState::Off;
    const bool changed = states_[device - 1] != now;
    states_[device - 1] = now;
    Q_EMIT letterSent(device, on);
    if (changed)
        Q_EMIT stateChanged(device, now);
    if (pausesAfter(sender))
        Module2::Pause(0.25);
    return {};
}

SwitchResult DeviceAccount::failed(MainPanel& panel, DeviceCommand command, Sender sender) {
    const BoardLink& link = panel.boardLink();
    SwitchResult result;
    result.failure =
        link.port().PortOpen() ? SwitchResult::Failure::WriteFailed : SwitchResult::Failure::NoPort;
    result.reason = link.failureText().replace(QStringLiteral("\n\n"), QStringLiteral(" "));
    tell(panel, command, sender, link.lastError());
    return result;
}

void DeviceAccount::tell(MainPanel& panel, DeviceCommand command, Sender sender,
                         const QString& why) {
    BoardLink& link = panel.boardLink();
    switch (sender) {
        case Sender::Countdown:
            return;  // the timer window has its own message and closes after it
        case Sender::Button:
            link.tellOnce(link.failureText(), QStringLiteral("Serial port"));
            return;
        case Sender::WebPage:
            link.tellOnce(QStringLiteral("Internet control could not switch device %1 %2: the "
                                         "command did not reach the controller board (%3).\n\n"
                                         "Your web page is still being checked. You will be told "
                                         "again only after a command has gone through.")
                              .arg(command.device)
                              .arg(onOff(command.on), why),
                          QStringLiteral("Internet Control"));
            return;
        case Sender::Bus:
        case Sender::Mqtt:
            break;
    }
    // The asking program gets its answer first; a modal box would hold the answer back.
    const QString text =
        QStringLiteral(
            "Another program asked Domivox to switch device %1 %2, but the command "
            "did not reach the controller board (%3).\n\nThat program was told so. "
            "You will be told again only after a command has gone through.")
            .arg(command.device)
            .arg(onOff(command.on), why);
    QTimer::singleShot(0, this, [text] {
        if (MainPanel* main = findMainPanel())
            main->boardLink().tellOnce(text, QStringLiteral("Serial port"));
    });
}

DeviceState DeviceAccount::state(int device) const {
    return DeviceCommand::valid(device) ? states_[device - 1] : DeviceState::Unknown;
}

QString DeviceAccount::buttonCaption(int button) const {
    if (button < 1 || button > 2 * DeviceCommand::kDevices)
        return QString();
    if (MainPanel* panel = findMainPanel())
        return panel->buttonCaption(button);
    const DeviceCommand c = DeviceCommand::forButton(button);
    return Module1::ReadSetting(c.on ? Setting::ONBUTTON(c.device) : Setting::OFFBUTTON(c.device));
}

QString DeviceAccount::portDevice() const {
    return platform::SerialControl::devicePathFor(1);
}

void DeviceAccount::noteCaptionsChanged() {
    Q_EMIT captionsChanged();
}

void DeviceAccount::reset() {
    states_.fill(DeviceState::Unknown);
}

QString toString(DeviceState state) {
    switch (state) {
        case DeviceState::On:
            return QStringLiteral("on");
        case DeviceState::Off:
            return QStringLiteral("off");
        case DeviceState::Unknown:
            break;
    }
    return QStringLiteral("unknown");
}

}  // namespace device
