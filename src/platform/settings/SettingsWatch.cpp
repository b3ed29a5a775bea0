#include "platform/settings/SettingsWatch.h"

#include <QDir>
#include <QFileInfo>

#include "platform/settings/SettingsBackend.h"

namespace platform {

SettingsWatch::SettingsWatch(QObject* owner) : QObject(owner), file_(SettingsBackend::filePath()) {
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &SettingsWatch::notice);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &SettingsWatch::notice);
    arm();
}

void SettingsWatch::arm() {
    // The folder may have been made since the last look, and a replaced file must be watched
    // anew: start from what exists now.
    const QStringList old = watcher_.files() + watcher_.directories();
    if (!old.isEmpty())
        watcher_.removePaths(old);
    QStringList paths;
    if (QFileInfo::exists(file_))
        paths << file_;
    QString folder = QFileInfo(file_).absolutePath();
    while (!QFileInfo(folder).isDir()) {
        const QString up = QFileInfo(folder).absolutePath();
        if (up == folder)
            break;
        folder = up;
    }
    paths << folder;
    watcher_.addPaths(paths);
}

void SettingsWatch::notice() {
    arm();
    Q_EMIT changed();
}

}  // namespace platform
