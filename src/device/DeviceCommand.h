#pragma once

#include <optional>

namespace device {

// The wire protocol to the controller board: one lower-case letter per command, device n ON is
// the (2n-1)th letter, device n OFF the (2n)th. Both the panel and the board simulator use this
// table, so the two cannot drift apart.
struct DeviceCommand {
    int device;  // 1..5
    bool on;

    constexpr char letter() const {
        return static_cast<char>('a' + 2 * (device - 1) + (on ? 0 : 1));
    }
    // The main-window button that sends this command: Command n for ON, Command n+5 for OFF.
    constexpr int button() const { return on ? device : device + 5; }

    static constexpr int kDevices = 5;

    static constexpr bool valid(int device) { return device >= 1 && device <= kDevices; }

    static constexpr std::optional<DeviceCommand> fromLetter(char c) {
        if (c < 'a' || c > 'j')
            return std::nullopt;
        const int i = c - 'a';
        return DeviceCommand{i / 2 + 1, i % 2 == 0};
    }

    // Button n (1..10) of the main window.
    static constexpr DeviceCommand forButton(int n) {
        return n <= kDevices ? DeviceCommand{n, true} : DeviceCommand{n - kDevices, false};
    }
};

static_assert(DeviceCommand{1, true}.letter() == 'a');
static_assert(DeviceCommand{5, false}.letter() == 'j');
static_assert(DeviceCommand::fromLetter('d')->device == 2 && !DeviceCommand::fromLetter('d')->on);

}  // namespace device
