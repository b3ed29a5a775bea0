#include "device/BoardLink.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include "platform/Errors.h"
#include "platform/clock/EventWait.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/MessageBox.h"

namespace device {
namespace {
int& bootWindowMs() {
    static int ms = BoardLink::kBootWindowMs;
    return ms;
}
}  // namespace

BoardLink::BoardLink(QObject* owner) : QObject(owner), port_(new platform::SerialControl(this)) {
    setObjectName(QStringLiteral("BoardLink"));
    port_->setObjectName(QStringLiteral("MSComm1"));
    // Closing the main window and loading it again within a run need not restart the board.
    port_->setKeepLinesAtClose(true);
    if (owner)
        owner->installEventFilter(this);
}

void BoardLink::setBootWindowForTesting(int ms) {
    bootWindowMs() = ms < 0 ? kBootWindowMs : ms;
}

void BoardLink::open() {
    port_->setRThreshold(2);
    port_->setInputLen(7);
    port_->setSettings(QStringLiteral("2400,N,8,1"));
    port_->setDTREnable(true);
    port_->setCommPort(1);
    port_->setPortOpen(true);
}

void BoardLink::close() {
    port_->setPortOpen(false);
}

bool BoardLink::send(DeviceCommand command, quint64* order) {
    const auto letter = std::make_shared<Letter>(Letter{command, Letter::Waiting, QString(), 0});
    queue_.push_back(letter);
    ++waiting_;
    // Whoever waits innermost sends for everyone before it: the outer senders cannot run again
    // until it returns.
    for (;;) {
        drain();
        if (letter->state != Letter::Waiting)
            break;
        platform::handleEventsFor(msUntilBoardListens() / 1000.0);
    }
    if (--waiting_ == 0)
        ownerMayGo();
    if (letter->state == Letter::Failed) {
        lastError_ = letter->error;
        return false;
    }
    if (order)
        *order = letter->order;
    return true;
}

void BoardLink::drain() {
    while (!queue_.empty()) {
        Letter& head = *queue_.front();
        try {
            // A device that went away is opened again first, so the restart its opening causes
            // is waited out like any other.
            port_->reopenIfGone();
            if (msUntilBoardListens() > 0)
                return;
            port_->Output(QString(QLatin1Char(head.command.letter())));
            head.state = Letter::Sent;
            head.order = ++written_;
            newest_[head.command.device - 1] = head.order;
            failures_.endRun();
        } catch (const platform::RuntimeError& e) {
            head.state = Letter::Failed;
            head.error = e.message();
        }
        queue_.pop_front();
    }
}

int BoardLink::msUntilBoardListens() const {
    const qint64 since = port_->msSinceDtrRose();
    if (since < 0 || since >= bootWindowMs())
        return 0;
    return int(bootWindowMs() - since);
}

bool BoardLink::eventFilter(QObject* watched, QEvent* event) {
    // The owner unloading while a sender waits (its close box, the program's end) would pull
    // the link out from under it; its destruction waits until the last sender has returned.
    if (watched == parent() && event->type() == QEvent::DeferredDelete && waiting_ > 0) {
        ownerDeletePending_ = true;
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void BoardLink::ownerMayGo() {
    if (!ownerDeletePending_)
        return;
    ownerDeletePending_ = false;
    // The deferred delete held back cannot be posted again: Qt posts one per object, once, and
    // later releases keep its event type to themselves. The owner goes as soon as the program's
    // events run again, by which time every sender has returned.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [owner = QPointer<QObject>(parent())] { delete owner.data(); }, Qt::QueuedConnection);
}

bool BoardLink::tellOnce(const QString& text, const QString& title) {
    if (!failures_.firstOfRun())
        return false;
    platform::MsgBox(text, platform::vbExclamation, title);
    return true;
}

QString BoardLink::failureText() const {
    QString text = QStringLiteral(
                       "The command could not be sent to the controller board on serial port %1 "
                       "(%2): %3.\n\n%4")
                       .arg(port_->CommPort())
                       .arg(port_->devicePath(), port_->lastFailure(),
                            platform::SerialControl::adviceFor(port_->lastFailureKind()));
    // A port that did not open at start stays closed until the window starts again.
    if (!port_->PortOpen())
        text += QStringLiteral(
            "\n\nThe port is not open: once that is done, restart Domivox, which opens the port "
            "when it starts.");
    return text;
}

void BoardLink::dropDtr() {
    port_->setDTREnable(false);
}

}  // namespace device
