#pragma once

#include <array>

#include <QObject>
#include <QString>

#include "device/DeviceCommand.h"

namespace device {

class MainPanel;

enum class DeviceState { Unknown, Off, On };

// Who asks for a switch. It decides the caption on the status line (a main-window button, the
// bus and MQTT name the device by its ON button; the countdown and the web page by the button
// that sends the command) and whether the countdown's quarter-second pause follows.
enum class Sender { Button, Countdown, WebPage, Bus, Mqtt };

struct SwitchResult {
    enum class Failure { None, NoSuchDevice, NoPort, WriteFailed };
    Failure failure = Failure::None;
    QString reason;  // a sentence a user can act on; empty when sent
    bool sent() const { return failure == Failure::None; }
};

// Where every sender meets: the five devices as this run last told them, and the one road a
// switch takes (the main window, loaded hidden when closed; the board link; the status line; one
// failure box per run of failures). Buttons, countdown, web page, bus and MQTT all come here, so
// a watcher of stateChanged sees every switch whoever made it.
class DeviceAccount : public QObject {
    Q_OBJECT
public:
    static DeviceAccount& instance();

    // Switches device 1..5 as that sender does. May run a nested event loop (the wait after a
    // port opening, the countdown's pause): callers must not re-enter it from a socket handler.
    SwitchResult switchDevice(int device, bool on, Sender sender);

    // What device n was last told this run and went out; Unknown outside 1..5.
    DeviceState state(int device) const;
    // Button 1..10 as it shows now; the stored name while no main window is loaded.
    QString buttonCaption(int button) const;
    // Port 1's device path.
    QString portDevice() const;

    // The main window tells when it changed a button's caption (start-up, the names editor).
    void noteCaptionsChanged();
    // Forgets the states: a new run in tests.
    void reset();

Q_SIGNALS:
    void letterSent(int device, bool on);                      // every letter that went out
    void stateChanged(int device, device::DeviceState state);  // only when the state differs
    void captionsChanged();                                    // a button's caption changed

private:
    DeviceAccount() = default;
    SwitchResult failed(MainPanel& panel, DeviceCommand command, Sender sender);
    void tell(MainPanel& panel, DeviceCommand command, Sender sender, const QString& why);

    std::array<DeviceState, DeviceCommand::kDevices> states_{};
};

QString toString(DeviceState state);  // "on", "off", "unknown"

}  // namespace device
