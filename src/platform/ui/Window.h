#pragma once

#include <functional>

#include <QMainWindow>

class QAction;
class QMenu;

namespace platform {

class IntervalTimer;

// Base of every window of the program. A window is created hidden when it is first referred to
// (WindowRegistry::load), which runs its Form_Load; it exists at most once; unloading it (Unload,
// or closing it from its frame) runs Form_Unload, kills its timers and destroys it.
class Window : public QMainWindow {
    Q_OBJECT
public:
    explicit Window(QWidget* parent = nullptr);
    ~Window() override;

    // The area below the menu bar that the window's controls are laid out in.
    QWidget* client() const { return client_; }
    void setClientSizeTwips(int width, int height);

    // Shows the window without a modal loop and brings it to the front.
    void Show();
    // Unloads the window. Safe to call from one of its own handlers: the object itself goes
    // away once control is back in the event loop, but from this call on it is no longer
    // loaded, its timers never fire and a new reference creates a fresh window.
    void Unload();
    bool isUnloaded() const { return unloaded_; }

    // Sets the window's caption. The title bar shows it exactly as it stands, on X and on a
    // Wayland compositor alike: an empty caption gives an empty title, and "[*]" is text like
    // any other.
    void setCaption(const QString& text) { setWindowTitle(text); }
    QString caption() const { return windowTitle(); }

protected:
    // The window's load steps; they run once, right after the window is created.
    virtual void Form_Load() {}
    // The window's own unload steps; they do not run when the program ends through End.
    virtual void Form_Unload() {}
    // Resources that must go with the window however it goes (a port, a file).
    virtual void releaseResources() {}

    // A top-level menu and its items, named as the design names them.
    QMenu* addMenu(const QString& name, const QString& caption);
    QAction* addMenuItem(QMenu* menu, const QString& name, const QString& caption,
                         std::function<void()> handler);

    // An interval clock owned by this window, dying with it.
    IntervalTimer* addTimer(const QString& name, int intervalMs, bool enabled,
                            std::function<void()> handler);

    bool event(QEvent* event) override;
    // A disabled window (the locked main window) refuses a close request from its frame.
    void closeEvent(QCloseEvent* event) override;

private:
    friend class WindowRegistry;
    void runLoad() { Form_Load(); }
    void destroyForEnd();
    void killTimers();
    void writeNativeTitle();

    QWidget* client_;
    bool unloaded_ = false;
};

}  // namespace platform
