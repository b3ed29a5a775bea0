#pragma once

#include <QString>

// The settings store: named text values under one per-user key.
namespace Module1 {

using HKEY = quint32;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;

// The key every window uses.
inline const QString& RegistryPath() {
    static const QString path = QStringLiteral("Software\\VAZ\\Registry");
    return path;
}

// The stored text; the empty text when the value is missing, is not a plain string, or the
// root is not the current user's. Text stops at the first zero character. Creates nothing.
QString ReadSetting(HKEY root, const QString& keyPath, const QString& name);

// Stores the text unchanged, creating the key when it is missing. A failed write is silent here.
void WriteSetting(HKEY root, const QString& keyPath, const QString& name, const QString& value);

// The two calls as every window makes them: current user, the program's key.
inline QString ReadSetting(const QString& name) {
    return ReadSetting(HKEY_CURRENT_USER, RegistryPath(), name);
}
inline void WriteSetting(const QString& name, const QString& value) {
    WriteSetting(HKEY_CURRENT_USER, RegistryPath(), name, value);
}

}  // namespace Module1

// Every value the program keeps under its key.
namespace Setting {
inline QString ONBUTTON(int n) { return QStringLiteral("ONBUTTON%1").arg(n); }
inline QString OFFBUTTON(int n) { return QStringLiteral("OFFBUTTON%1").arg(n); }
inline const char* const picture = "picture";
inline const char* const caption = "caption";
inline const char* const Address = "Address";
inline const char* const timer1 = "timer1";
inline const char* const internet = "internet";
inline const char* const password = "password";
inline const char* const disclaimer = "disclaimer";
}  // namespace Setting
