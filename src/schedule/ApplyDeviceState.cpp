#include "schedule/ApplyDeviceState.h"

#include <optional>

#include <QLineEdit>
#include <QPointer>

#include "device/DeviceCommand.h"
#include "device/Module2.h"
#include "platform/ui/WindowRegistry.h"
#include "schedule/frmTimer.h"

namespace schedule {
namespace {

// The entry's text at this moment, or nothing once the window the pass began with has gone.
std::optional<QString> entry(const QPointer<frmTimer>& window, int device) {
    if (!window || window->isUnloaded())
        return std::nullopt;
    return window->Text(device)->text();
}

}  // namespace

void ApplyDeviceState() {
    const QPointer<frmTimer> window = platform::WindowRegistry::find<frmTimer>();
    for (int device = 1; device <= device::DeviceCommand::kDevices; ++device) {
        const std::optional<QString> first = entry(window, device);
        if (!first)
            return;
        if (*first == QLatin1String("1"))
            Module2::DeviceAction(device, true);
        // Read again: the ON action's pause may have let the user change the entry.
        const std::optional<QString> second = entry(window, device);
        if (!second)
            return;
        if (*second == QLatin1String("0"))
            Module2::DeviceAction(device, false);
    }
}

}  // namespace schedule
