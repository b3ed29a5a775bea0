// domivox-board: a controller board in a pseudo-terminal, for trying Domivox without hardware.
//
//   domivox-board [--log FILE] [--plain]
//
// Prints the line that starts Domivox against the simulated board, then shows what the board
// received. Ctrl-C ends it.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include "BoardState.h"

namespace {

int quitPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 'q';
    (void)!::write(quitPipe[1], &c, 1);
}

class Board : public QObject {
public:
    Board(int master, int slave, QString slavePath, QFile* log, bool live)
        : master_(master),
          slave_(slave),
          slavePath_(std::move(slavePath)),
          log_(log),
          live_(live),
          reader_(master, QSocketNotifier::Read) {
        connect(&reader_, &QSocketNotifier::activated, this, [this] { readBytes(); });
        // A client changes the line settings without telling us; look now and then.
        connect(&refresh_, &QTimer::timeout, this, [this] { checkLine(); });
        refresh_.start(250);
        checkLine();
        redraw();
    }

private:
    void readBytes() {
        unsigned char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            return;
        const QDateTime now = QDateTime::currentDateTime();
        for (ssize_t i = 0; i < n; ++i) {
            const BoardState::Event e = state_.feed(buf[i], now);
            if (log_) {
                log_->write(BoardState::logLine(e).toUtf8() + '\n');
            }
        }
        if (log_)
            log_->flush();
        redraw();
    }

    void checkLine() {
        termios t{};
        if (::tcgetattr(slave_, &t) != 0)
            return;
        const BoardState::Line line = BoardState::readLine(t);
        if (line.text() != line_.text()) {
            line_ = line;
            if (!live_) {
                std::printf("line: %s (%s)\n", qPrintable(line.text()),
                            line.matches() ? "right" : "expected 2400 baud 8N1");
                std::fflush(stdout);
            }
            redraw();
        }
    }

    void redraw() {
        if (!live_)
            return;
        QString s;
        QTextStream out(&s);
        out << "\x1b[H\x1b[2J";
        out << "Domivox board simulator on " << slavePath_ << "\n";
        out << "Start Domivox with:  DOMIVOX_COM1=" << slavePath_ << " domivox\n\n";
        out << "Line: " << line_.text()
            << (line_.matches() ? "  (right)" : "  (expected 2400 baud 8N1)")
            << "\n\n";
        out << "Device  State     Commands  Last command\n";
        for (int n = 1; n <= BoardState::kDevices; ++n) {
            const auto& d = state_.device(n);
            const QString st = BoardState::stateName(d.state);
            const char* colour = d.state == BoardState::State::On    ? "\x1b[42;30m"
                                 : d.state == BoardState::State::Off ? "\x1b[41;37m"
                                                                     : "";
            out << QString("  %1     ").arg(n) << colour << QString("%1").arg(st, -7) << "\x1b[0m"
                << QString("   %1  ").arg(d.commands, 8)
                << (d.last.isValid() ? d.last.toString("HH:mm:ss.zzz") : QString("-")) << "\n";
        }
        out << "\nBytes received: " << state_.totalBytes()
            << "   unknown: " << state_.unknownBytes() << "\nLast bytes:";
        for (const auto& e : state_.recent()) {
            if (e.device)
                out << ' ' << char(e.byte);
            else
                out << " \x1b[7m" << QString("0x%1").arg(e.byte, 2, 16, QLatin1Char('0'))
                    << "?\x1b[0m";
        }
        out << "\n\nCtrl-C ends the simulator.\n";
        out.flush();
        std::fputs(s.toUtf8().constData(), stdout);
        std::fflush(stdout);
    }

    int master_;
    int slave_;
    QString slavePath_;
    QFile* log_;
    bool live_;
    QSocketNotifier reader_;
    QTimer refresh_;
    BoardState state_;
    BoardState::Line line_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("domivox-board");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Simulates the Domivox controller board on a pseudo-terminal and shows what it receives.");
    parser.addHelpOption();
    parser.addOption(
        {"log", "Append one line per received byte (time, byte, device, state).", "file"});
    parser.addOption({"plain",
                      "No live table: the start line, then one line per change of the line "
                      "settings (for scripts)."});
    parser.process(app);

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("domivox-board: cannot make a pseudo-terminal");
        return 1;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);

    QFile log;
    if (parser.isSet("log")) {
        log.setFileName(parser.value("log"));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            std::fprintf(stderr, "domivox-board: cannot open log %s: %s\n",
                         qPrintable(log.fileName()), qPrintable(log.errorString()));
            return 1;
        }
    }

    if (::pipe(quitPipe) != 0)
        return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    QSocketNotifier quit(quitPipe[0], QSocketNotifier::Read);
    QObject::connect(&quit, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

    const bool live = !parser.isSet("plain") && ::isatty(STDOUT_FILENO);
    std::printf("DOMIVOX_COM1=%s domivox\n", name);
    std::fflush(stdout);

    int rc;
    {
        Board board(master, slave, QString::fromLocal8Bit(name), log.isOpen() ? &log : nullptr,
                    live);
        rc = app.exec();
    }
    if (live)
        std::printf("\x1b[0m\n");
    std::printf("domivox-board: stopped\n");
    ::close(master);
    ::close(slave);
    return rc;
}
