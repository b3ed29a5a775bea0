#include "remote/PollRemotePage.h"

#include <QLineEdit>
#include <QPointer>

#include "device/Module2.h"
#include "platform/Errors.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/internetsettings.h"

namespace remote {
namespace {

// Runs one device-1 action for the poller. A write that fails (the board unplugged, the port
// never opened) is told by the device account, once per run of failures whoever met it first;
// polling goes on regardless.
void switchDeviceOne(bool on) {
    try {
        Module2::DeviceAction(1, on, device::Sender::WebPage);
    } catch (const platform::RuntimeError&) {
    }
}

}  // namespace

void PollRemotePage() {
    QPointer<internetsettings> w = platform::WindowRegistry::find<internetsettings>();
    if (!w)
        return;
    w->Text30()->setText(w->WebBrowser1()->LocationName());
    w->splitText30();
    if (w->Text4()->text() == QLatin1String("1"))
        switchDeviceOne(true);
    // The action's pause lets everything else run, the user's Exit included; an unloaded
    // window polls no more.
    if (!w || w->isUnloaded())
        return;
    if (w->Text4()->text() == QLatin1String("0"))
        switchDeviceOne(false);
}

}  // namespace remote
