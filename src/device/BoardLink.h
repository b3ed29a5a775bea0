#pragma once

#include <array>
#include <deque>
#include <memory>

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
// The main window owns the link: its start-up opens it and it closes with the window. A closing
// leaves DTR as the board last saw it, so loading the main window again need not restart a
// board whose reset hangs on DTR (an Uno, a Nano); whether it does is up to the adapter.
//
// Every port with a DTR line is taken to carry such a board: neither the adapter's USB id (the
// same chips carry bare chips and boards with the reset cut) nor the user's word can be relied
// on, and a wrong guess either way must not lose letters, while waiting for a board that does
// not restart costs only time. After each opening, or DTR raised again, it sits in its
// bootloader, which swallows what arrives; letters wait until it is out (kBootWindowMs), then go
// in the order they were sent, whoever sent them.
class BoardLink : public QObject {
    Q_OBJECT
public:
    explicit BoardLink(QObject* owner);

    // Port 1 at 2400 baud, 8N1, DTR raised, with the receive threshold and input length the
    // board's events rely on. Throws platform::RuntimeError when the port cannot be opened.
    void open();
    void close();

    // Writes the command's letter. True once it went out, which also ends a run of failures;
    // false leaves the reason in lastError(). Letters go out one after another in the order
    // send was called: while one waits for a restarting board, window events keep being handled
    // here, and a letter sent from one of them (a click, another device of a pattern, a poll)
    // queues behind it. The window that owns the link is not destroyed while a send waits.
    // `order`, when given, gets the letter's place among all letters written.
    bool send(DeviceCommand command, quint64* order = nullptr);
    // The place of the newest letter written for device 1..5, 0 before any. A send nested in
    // another's wait returns first although its letter went out second: the outer sender finds
    // its letter is no longer the newest for the device and must not show it as the state.
    quint64 newestFor(int device) const { return newest_.at(device - 1); }
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

    // How long a board restarted by a rising DTR ignores the line. Optiboot (the Uno, newer
    // Nanos) waits about 1 s for an upload before starting the sketch; the older bootloader of
    // the Nano about 2 s, blinking first. Waiting covers the slower one with a quarter to
    // spare (the adapter takes a moment to pass DTR on, the firmware to set its pins and
    // receiver up): nothing is lost on either, and the wait only follows an opening (the
    // start, an adapter plugged back in, the main window loaded again), where it holds the
    // first letters at most this long.
    static constexpr int kBootWindowMs = 2500;
    // Tests shorten it; a negative value puts kBootWindowMs back.
    static void setBootWindowForTesting(int ms);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Letter {
        DeviceCommand command;
        enum { Waiting, Sent, Failed } state = Waiting;
        QString error;
        quint64 order = 0;
    };
    void drain();
    int msUntilBoardListens() const;
    void ownerMayGo();

    platform::SerialControl* port_;
    platform::FailureRun failures_;
    QString lastError_;
    std::deque<std::shared_ptr<Letter>> queue_;
    int waiting_ = 0;
    quint64 written_ = 0;
    std::array<quint64, DeviceCommand::kDevices> newest_{};
    bool ownerDeletePending_ = false;
};

}  // namespace device
