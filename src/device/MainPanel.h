#pragma once

#include <functional>

#include <QString>

namespace platform {
class PictureBox;
class Window;
}  // namespace platform

namespace device {

class BoardLink;

// What the windows below the main window may ask of it: its button captions and picture, and
// the window itself (caption, enabled, shown). Switching a device is not among them: that goes
// through the DeviceAccount, which alone uses the link and the status lines. The main window
// lives in a room above them all and implements this; they never include it.
class MainPanel {
public:
    virtual platform::Window& window() = 0;
    virtual QString buttonCaption(int n) const = 0;  // 1..10
    virtual void setButtonCaption(int n, const QString& caption) = 0;
    virtual platform::PictureBox* Image1() const = 0;
    // For the DeviceAccount.
    virtual BoardLink& boardLink() const = 0;
    // Shows "<caption> IS CURRENTLY ON" on green or "... OFF" on red in device n's status line.
    virtual void showStatus(int device, const QString& caption, bool on) = 0;

protected:
    ~MainPanel() = default;
};

// How the main window is found and loaded; installed by the main window's room, which is the
// only one that knows its class.
struct MainPanelAccess {
    std::function<MainPanel*()> find;  // the loaded main window, or nullptr
    std::function<MainPanel*()> load;  // refers to it: loads it hidden when it is not loaded
};
void installMainPanel(MainPanelAccess access);

// The main window that is loaded now, or nullptr: also when none was ever installed.
MainPanel* findMainPanel();
// Loads the main window when it is not loaded (running its start-up); nullptr when its start-up
// unloaded it again, or none was installed.
MainPanel* loadMainPanel();
// Loads it if needed and shows it, modeless and in front.
void showMainPanel();

}  // namespace device
