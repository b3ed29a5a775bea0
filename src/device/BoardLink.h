#pragma once

#include <QObject>
#include <QString>

#include "device/DeviceCommand.h"
#include "platform/FailureRun.h"

namespace platform {
class SerialControl;
}

namespace device {

// The link to the controller board, and the only way a command letter reaches it. Buttons, the
// timer function and the remote poller all send through here, so they share one account of
// whether the board is reachable: a run of failed writes is told to the user once, whichever
// of them meets it, and the first letter that goes out again ends the run.
//
// The main window owns the link: its start-up opens it and it closes with the window.
class BoardLink : public QObject {
    Q_OBJECT
public:
    explicit BoardLink(QObject* owner);

    // Port 1 at 2400 baud, 8N1, DTR raised, with the receive threshold and input length the
    // board's events rely on. Throws platform::RuntimeError when the port cannot be opened.
    void open();
    void close();

    // Writes the command's letter. True when it went out, which also ends a run of failures;
    // false leaves the reason in lastError().
    bool send(DeviceCommand command);
    // The port's own words for the last failed send.
    QString lastError() const { return lastError_; }

    // Shows the box unless this run of failures has already been told by any caller. The run
    // lasts until a letter goes out again. True when shown.
    bool tellOnce(const QString& text, const QString& title);
    // What a failed send means to the user: the port, its device, why, and what to do.
    QString failureText() const;

    // The board asks for quiet by any line event: DTR drops and stays down until the next
    // opening.
    void dropDtr();

    const platform::SerialControl& port() const { return *port_; }

private:
    platform::SerialControl* port_;
    platform::FailureRun failures_;
    QString lastError_;
};

}  // namespace device
