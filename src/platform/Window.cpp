#include "platform/Window.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>

#include "platform/IntervalTimer.h"
#include "platform/Twips.h"
#include "platform/WindowRegistry.h"

namespace platform {

Window::Window(QWidget* parent) : QMainWindow(parent), client_(new QWidget(this)) {
    client_->setObjectName(QStringLiteral("client"));
    setCentralWidget(client_);
}

Window::~Window() {
    if (!unloaded_) {
        // Deleted without unloading (a test, or the program tearing down): keep the registry
        // from handing out a dangling window.
        killTimers();
        releaseResources();
        WindowRegistry::remove(this);
    }
}

void Window::setClientSizeTwips(int width, int height) {
    client_->setFixedSize(px(width), px(height));
}

void Window::Show() {
    if (unloaded_)
        return;
    show();
    raise();
    activateWindow();
}

IntervalTimer* Window::addTimer(const QString& name, int intervalMs, bool enabled,
                                std::function<void()> handler) {
    return new IntervalTimer(this, name, intervalMs, enabled, std::move(handler));
}

QMenu* Window::addMenu(const QString& name, const QString& caption) {
    QMenu* m = menuBar()->addMenu(caption);
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    return m;
}

QAction* Window::addMenuItem(QMenu* menu, const QString& name, const QString& caption,
                             std::function<void()> handler) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    return a;
}

void Window::killTimers() {
    for (IntervalTimer* t : findChildren<IntervalTimer*>())
        t->kill();
}

void Window::Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    Form_Unload();
    killTimers();
    releaseResources();
    WindowRegistry::remove(this);
    hide();
    deleteLater();
    WindowRegistry::windowUnloaded();
}

void Window::destroyForEnd() {
    if (unloaded_)
        return;
    unloaded_ = true;
    killTimers();
    releaseResources();
    WindowRegistry::remove(this);
    hide();
    deleteLater();
}

void Window::closeEvent(QCloseEvent* event) {
    // Closing from the frame unloads; Unload itself hides and schedules the deletion.
    event->ignore();
    Unload();
}

}  // namespace platform
