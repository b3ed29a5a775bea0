#pragma once

#include <QFileSystemWatcher>
#include <QObject>

namespace platform {

// Tells when the settings file may have changed, whoever changed it: this program, another copy
// of it, or a user with an editor. It watches the file and the folder it lives in (saves replace
// the file, which a watch on the file alone loses); while the folder does not exist yet it
// watches the nearest folder above it that does. The file is the one the store uses when the
// watch is made.
//
// A notification means "read again", nothing more: it also comes for other files in the folder.
class SettingsWatch : public QObject {
    Q_OBJECT
public:
    explicit SettingsWatch(QObject* owner);

Q_SIGNALS:
    void changed();

private:
    void arm();
    void notice();

    QFileSystemWatcher watcher_;
    QString file_;
};

}  // namespace platform
