#include "platform/ui/Window.h"

#include <cstdlib>

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>

#include <qpa/qplatformnativeinterface.h>
#include <QTimer>
#include <QWindow>

#include <wayland-client.h>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

#include "platform/clock/IntervalTimer.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowRegistry.h"

namespace platform {

namespace {

#if QT_CONFIG(xcb)
xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(qstrlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}
#endif

// Qt hands the window system a title of its own making: the program's name in place of an
// empty one, and "[*]" taken out as the marker of unsaved changes. On X the window's name
// properties are written again with the caption itself, right after Qt wrote its version.
void writeX11Title(WId id, const QString& text) {
#if QT_CONFIG(xcb)
    if (!id || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    const auto window = static_cast<xcb_window_t>(id);
    const xcb_atom_t utf8 = internAtom(c, "UTF8_STRING");
    const QByteArray name = text.toUtf8();
    const auto length = static_cast<uint32_t>(name.size());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, internAtom(c, "_NET_WM_NAME"), utf8, 8,
                        length, name.constData());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, utf8, 8, length,
                        name.constData());
    xcb_flush(c);
#else
    Q_UNUSED(id);
    Q_UNUSED(text);
#endif
}

// The same on Wayland, where Qt puts its title on the window's xdg_toplevel (and gives no public
// way to reach it): the caption goes to the compositor with the protocol's set_title request.
void writeWaylandTitle(QWindow* window, const QString& text) {
    if (!window || !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* toplevel =
        static_cast<wl_proxy*>(native->nativeResourceForWindow("xdg_toplevel", window));
    if (!toplevel)
        return;
    // A message longer than the library's 4096-byte buffer would end the connection, and the
    // program with it: the title is cut well short of that, never inside a character.
    QString title = text.left(1200);
    if (!title.isEmpty() && title.back().isHighSurrogate())
        title.chop(1);
    constexpr uint32_t setTitleRequest = 2;  // xdg_toplevel.set_title(string)
    wl_proxy_marshal(toplevel, setTitleRequest, title.toUtf8().constData());
    if (auto* display =
            static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")))
        wl_display_flush(display);
}

}  // namespace

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

bool Window::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    switch (event->type()) {
        // Qt has just written its own title to the native window on each of these; on Show the
        // X window is made but not yet mapped, so the window manager first sees the right one.
        // A Wayland window gets its toplevel (and Qt's title on it) only after the Show event,
        // so the title is written once more as soon as the show has gone through.
        case QEvent::Show:
            writeNativeTitle();
            QTimer::singleShot(0, this, [this] { writeNativeTitle(); });
            break;
        case QEvent::WindowTitleChange:
        case QEvent::ModifiedChange:
            writeNativeTitle();
            break;
        default:
            break;
    }
    return handled;
}

void Window::writeNativeTitle() {
    if (!isWindow() || !internalWinId())
        return;
    writeX11Title(internalWinId(), windowTitle());
    writeWaylandTitle(windowHandle(), windowTitle());
}

void Window::closeEvent(QCloseEvent* event) {
    // Closing from the frame unloads; Unload itself hides and schedules the deletion. A window
    // that is disabled takes no close request, so a locked main window stays open and loaded.
    event->ignore();
    if (!isEnabled())
        return;
    Unload();
}

}  // namespace platform
