#include "store/Module1.h"

#include "platform/settings/SettingsBackend.h"

namespace Module1 {

QString ReadSetting(HKEY root, const QString& keyPath, const QString& name) {
    if (root != HKEY_CURRENT_USER)
        return QString();
    const auto value = platform::SettingsBackend::read(keyPath, name);
    if (!value)
        return QString();
    // Values other programs stored with a terminating zero come back without it.
    const qsizetype zero = value->indexOf(QChar(0));
    return zero < 0 ? *value : value->left(zero);
}

void WriteSetting(HKEY root, const QString& keyPath, const QString& name, const QString& value) {
    if (root != HKEY_CURRENT_USER)
        return;
    platform::SettingsBackend::write(keyPath, name, value);
}

}  // namespace Module1
