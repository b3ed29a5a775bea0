#include "device/MainPanel.h"

#include "platform/ui/Window.h"

namespace device {
namespace {
MainPanelAccess& access() {
    static MainPanelAccess installed;
    return installed;
}
}  // namespace

void installMainPanel(MainPanelAccess a) {
    access() = std::move(a);
}

MainPanel* findMainPanel() {
    return access().find ? access().find() : nullptr;
}

MainPanel* loadMainPanel() {
    return access().load ? access().load() : nullptr;
}

void showMainPanel() {
    if (MainPanel* main = loadMainPanel())
        main->window().Show();
}

}  // namespace device
