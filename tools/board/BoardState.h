#pragma once

#include <termios.h>

#include <array>
#include <deque>

#include <QDateTime>
#include <QString>

// What a controller board would make of the bytes Domivox sends: one letter per command, decoded
// with the very table the panel encodes with.
class BoardState {
public:
    enum class State { Unknown, On, Off };

    struct Device {
        State state = State::Unknown;
        int commands = 0;
        QDateTime last;
    };

    struct Event {
        QDateTime time;
        unsigned char byte = 0;
        int device = 0;  // 0: not a command letter
        State state = State::Unknown;
    };

    // The line settings a client put on the terminal, and whether they are the board's.
    struct Line {
        int baud = 0;
        int dataBits = 0;
        char parity = 'N';
        int stopBits = 1;
        bool matches() const {
            return baud == 2400 && dataBits == 8 && parity == 'N' && stopBits == 1;
        }
        QString text() const;
    };

    static constexpr int kDevices = 5;
    static constexpr std::size_t kRecent = 64;

    Event feed(unsigned char byte, const QDateTime& when);

    const Device& device(int n) const { return devices_.at(n - 1); }
    long long totalBytes() const { return total_; }
    long long unknownBytes() const { return unknown_; }
    const std::deque<Event>& recent() const { return recent_; }

    static Line readLine(const termios& t);
    static QString stateName(State s);
    // One line of the --log file: time, byte, device, state, separated by tabs.
    static QString logLine(const Event& e);

private:
    std::array<Device, kDevices> devices_{};
    std::deque<Event> recent_;
    long long total_ = 0;
    long long unknown_ = 0;
};
