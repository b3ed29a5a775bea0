#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

#include "device/DeviceAccount.h"

namespace bus {

// The panel on the user's session bus: org.example.domivox, object /org/example/domivox,
// interface org.example.domivox.Panel1. The user's own programs switch devices through the same
// account as the buttons; nothing else is offered (no password, no settings, no paths), and the
// screen lock does not stop them, as it does not stop the countdown or the web page.
//
// Each call is answered from the event loop, never from inside the bus's delivery: a switch may
// wait for the board, and the countdown spacing of Apply runs on a timer.
class PanelService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.example.domivox.Panel1")
    Q_PROPERTY(QStringList States READ States)
    Q_PROPERTY(QStringList Captions READ Captions)
    Q_PROPERTY(QString Port READ Port)
public:
    static constexpr const char* kService = "org.example.domivox";
    static constexpr const char* kPath = "/org/example/domivox";
    static constexpr const char* kInterface = "org.example.domivox.Panel1";

    enum class Start { Serving, AnotherPanelRaised, NoBus };
    // Exports the panel on the session bus. When another panel of this session holds the name,
    // its main window is brought forward and AnotherPanelRaised tells the caller to end. Without
    // a session bus the panel runs as ever, quietly.
    static Start start(QObject* owner);

    explicit PanelService(const QDBusConnection& connection, QObject* parent = nullptr);

    QStringList States() const;    // "on", "off" or "unknown" for devices 1..5
    QStringList Captions() const;  // buttons 1..10
    QString Port() const;

public Q_SLOTS:
    // Device 1..5 on or off, as its button does.
    void Switch(int device, bool on);
    // Five characters, device 1 first: "1" ON, "0" OFF, anything else leaves the device; the
    // switches a quarter of a second apart, as the countdown applies them.
    void Apply(const QString& pattern);
    // Brings the main window forward (loads and shows it when it was closed).
    void Raise();

private:
    void applyFrom(QDBusMessage call, QString pattern, int device);
    void announce(const char* property, const QVariant& value);

    QDBusConnection connection_;
};

}  // namespace bus
