#pragma once

// What the desktop tiers (X, Wayland, the fit check) share: every window by the name it has in
// the registry, and a count of the close requests a window receives.

#include <QEvent>
#include <QObject>
#include <QString>

#include "editors/caption1.h"
#include "editors/settings.h"
#include "lock/password.h"
#include "mainwindow/Form1.h"
#include "platform/ui/WindowRegistry.h"
#include "remote/internetsettings.h"
#include "schedule/frmTimer.h"
#include "startup/Helpme.h"
#include "startup/disclaim.h"
#include "startup/frmSplash.h"

using editors::caption1;
using editors::settings;
using lock::password;
using mainwindow::Form1;
using remote::internetsettings;
using schedule::frmTimer;
using startup::disclaim;
using startup::frmSplash;
using startup::Helpme;

namespace desktop {

inline platform::Window* showByName(const QString& name) {
    using platform::WindowRegistry;
    if (name == "Form1")
        return WindowRegistry::show<Form1>();
    if (name == "settings")
        return WindowRegistry::show<settings>();
    if (name == "caption1")
        return WindowRegistry::show<caption1>();
    if (name == "frmTimer")
        return WindowRegistry::show<frmTimer>();
    if (name == "password")
        return WindowRegistry::show<password>();
    if (name == "internetsettings")
        return WindowRegistry::show<internetsettings>();
    if (name == "Helpme")
        return WindowRegistry::show<Helpme>();
    if (name == "disclaim")
        return WindowRegistry::show<disclaim>();
    return WindowRegistry::show<frmSplash>();
}

// Counts the close requests that reached a window.
class CloseCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Close)
            ++count;
        return false;
    }
};

}  // namespace desktop
