#include "remote/PollRemotePage.h"

#include <QLineEdit>
#include <QPointer>

#include "device/BoardLink.h"
#include "device/MainPanel.h"
#include "device/Module2.h"
#include "platform/Errors.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/internetsettings.h"

namespace remote {
namespace {

// Runs one device-1 action for the poller. A write that fails (the board unplugged, the port
// never opened) is told through the board link, once per run of failures whoever met it first;
// polling goes on regardless.
void switchDeviceOne(const QPointer<internetsettings>& window, bool on) {
    try {
        Module2::DeviceAction(1, on);
    } catch (const platform::RuntimeError& e) {
        device::MainPanel* main = device::findMainPanel();
        if (!window || !main)
            return;
        main->boardLink().tellOnce(
            QStringLiteral("Internet control could not switch device 1 %1: the command did not "
                           "reach the controller board (%2).\n\nYour web page is still being "
                           "checked. You will be told again only after a command has gone "
                           "through.")
                .arg(on ? QStringLiteral("on") : QStringLiteral("off"), e.message()),
            QStringLiteral("Internet Control"));
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
        switchDeviceOne(w, true);
    // The action's pause lets everything else run, the user's Exit included; an unloaded
    // window polls no more.
    if (!w || w->isUnloaded())
        return;
    if (w->Text4()->text() == QLatin1String("0"))
        switchDeviceOne(w, false);
}

}  // namespace remote
