#include "platform/app/AppInfo.h"

#include <QCoreApplication>

#include "platform/ui/WindowRegistry.h"

// The icons are compiled into the core library; a static library's resources need an explicit
// hook or the linker drops them.
static void initAssets() {
    Q_INIT_RESOURCE(assets);
}

namespace platform::App {
namespace {
QString& pathOverride() {
    static QString p;
    return p;
}
std::function<void()>& endHandler() {
    static std::function<void()> h;
    return h;
}
bool ended = false;
}  // namespace

QString Title() {
    return QStringLiteral("Domivox");
}
int Major() {
    return DOMIVOX_VERSION_MAJOR;
}
int Minor() {
    return DOMIVOX_VERSION_MINOR;
}
int Revision() {
    return DOMIVOX_VERSION_PATCH;
}

QString DesktopName() {
    return QStringLiteral("domivox");
}

QIcon Icon() {
    initAssets();
    QIcon icon;
    for (const int size : {48, 128, 256})
        icon.addFile(QStringLiteral(":/domivox-%1.png").arg(size), QSize(size, size));
    return icon;
}

QString Path() {
    if (!pathOverride().isEmpty())
        return pathOverride();
    // applicationDirPath() resolves /proc/self/exe, so a symbolic link to the binary still
    // finds the files installed beside the real one.
    return QCoreApplication::applicationDirPath();
}

void setPathForTesting(const QString& dir) {
    pathOverride() = dir;
}

void End() {
    if (ended)
        return;
    ended = true;
    WindowRegistry::destroyAll();
    if (endHandler()) {
        endHandler()();
        return;
    }
    QCoreApplication::exit(0);
}

bool HasEnded() {
    return ended;
}
void setEndHandlerForTesting(std::function<void()> handler) {
    endHandler() = std::move(handler);
}
void resetEndedForTesting() {
    ended = false;
}

}  // namespace platform::App
