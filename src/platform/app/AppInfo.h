#pragma once

#include <functional>

#include <QIcon>
#include <QString>

// Facts about the running program, and the one way to end it.
namespace platform::App {

QString Title();  // "Domivox"
int Major();
int Minor();
int Revision();

// The name of the installed menu entry (domivox.desktop) and of the icon it shows; window
// managers match the program's windows to that entry through it.
QString DesktopName();  // "domivox"
// The program's icon at every size it is drawn at, for its windows.
QIcon Icon();

// Directory holding the running binary, as the platform reports it (no trailing slash).
// Files the program ships beside itself are looked up here.
QString Path();
void setPathForTesting(const QString& dir);  // empty: back to the real directory

// Ends the program at once: every window goes away without its unload handling and the event
// loop stops. Tests install a handler to observe the end instead of stopping the process.
void End();
bool HasEnded();
void setEndHandlerForTesting(std::function<void()> handler);
void resetEndedForTesting();

}  // namespace platform::App
