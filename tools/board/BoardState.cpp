#include "BoardState.h"

#include "device/DeviceCommand.h"

using device::DeviceCommand;

BoardState::Event BoardState::feed(unsigned char byte, const QDateTime& when) {
    Event e;
    e.time = when;
    e.byte = byte;
    ++total_;
    if (const auto command = DeviceCommand::fromLetter(static_cast<char>(byte))) {
        e.device = command->device;
        e.state = command->on ? State::On : State::Off;
        Device& d = devices_.at(command->device - 1);
        d.state = e.state;
        ++d.commands;
        d.last = when;
    } else {
        ++unknown_;
    }
    recent_.push_back(e);
    if (recent_.size() > kRecent)
        recent_.pop_front();
    return e;
}

QString BoardState::stateName(State s) {
    switch (s) {
        case State::On:
            return QStringLiteral("ON");
        case State::Off:
            return QStringLiteral("OFF");
        default:
            return QStringLiteral("unknown");
    }
}

QString BoardState::logLine(const Event& e) {
    const QChar shown = e.byte >= 0x20 && e.byte < 0x7F ? QChar(e.byte) : QChar('.');
    return QStringLiteral("%1\t0x%2\t%3\t%4\t%5")
        .arg(e.time.toString(Qt::ISODateWithMs))
        .arg(e.byte, 2, 16, QLatin1Char('0'))
        .arg(shown)
        .arg(e.device ? QString::number(e.device) : QStringLiteral("-"))
        .arg(e.device ? stateName(e.state) : QStringLiteral("unknown-byte"));
}

BoardState::Line BoardState::readLine(const termios& t) {
    static const struct {
        speed_t code;
        int baud;
    } speeds[] = {{B50, 50},         {B75, 75},        {B110, 110},     {B134, 134},
                  {B150, 150},       {B200, 200},      {B300, 300},     {B600, 600},
                  {B1200, 1200},     {B1800, 1800},    {B2400, 2400},   {B4800, 4800},
                  {B9600, 9600},     {B19200, 19200},  {B38400, 38400}, {B57600, 57600},
                  {B115200, 115200}, {B230400, 230400}};
    Line line;
    const speed_t speed = cfgetospeed(&t);
    for (const auto& s : speeds)
        if (s.code == speed)
            line.baud = s.baud;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            line.dataBits = 5;
            break;
        case CS6:
            line.dataBits = 6;
            break;
        case CS7:
            line.dataBits = 7;
            break;
        default:
            line.dataBits = 8;
            break;
    }
    line.parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    line.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return line;
}

QString BoardState::Line::text() const {
    return QStringLiteral("%1 baud %2%3%4")
        .arg(baud ? QString::number(baud) : QStringLiteral("?"))
        .arg(dataBits)
        .arg(QLatin1Char(parity))
        .arg(stopBits);
}
