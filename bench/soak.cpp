// Every window open and busy for a long time, for bench/soak.sh to watch from outside: the main
// window, the timer window restarting a short countdown whenever the last one has run out, the
// internet settings window polling a page on 127.0.0.1 whose title flips now and then, the lock
// window and both editors. The board is a pseudo-terminal read by a thread of its own.
//
//   soak [seconds]     (0 or nothing: until SIGTERM or SIGINT)
//   soak --serve       (the page server alone; the soak starts it as a child process)
//
// The page server runs in a process of its own so that what it keeps (it records every request)
// is not counted against the program.
//
// Prints one line of progress every ten seconds and a last line when it ends.

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include "../tests/support/HttpTestServer.h"
#include "editors/caption1.h"
#include "editors/settings.h"
#include "lock/password.h"
#include "mainwindow/Form1.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/internetsettings.h"
#include "schedule/frmTimer.h"
#include "store/Module1.h"
#include "support/TestSupport.h"

using editors::caption1;
using editors::settings;
using lock::password;
using mainwindow::Form1;
using remote::internetsettings;
using schedule::frmTimer;

using platform::WindowRegistry;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    (void)!::write(signalPipe[1], &c, 1);
}

// The remote control page: its title flips between "10000" and "00000" every 15 s.
int serve(int argc, char** argv) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);
    testhttp::Server server;
    QElapsedTimer wall;
    wall.start();
    server.on("/remote", [&wall](const testhttp::Request&) {
        return testhttp::Response::titled((wall.elapsed() / 15000) % 2 ? "10000" : "00000");
    });
    std::printf("%s\n", qPrintable(server.url("/remote")));
    std::fflush(stdout);
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--serve") == 0)
        return serve(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(0, atoi(argv[1])) : 0;

    // SIGTERM ends the run like the time limit does, with the last line printed.
    if (::pipe(signalPipe) != 0)
        return 2;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, [&app] { app.quit(); });

    testsupport::Sandbox sandbox;
    testsupport::storeFactoryNames();
    Module1::WriteSetting("disclaimer", "True");
    Module1::WriteSetting("password", "soak");

    std::atomic<long long> letters{0};
    std::atomic<bool> reading{true};
    std::thread board([&] {
        char buf[4096];
        const int fd = sandbox.pty().masterFd();
        while (reading) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0)
                    letters += n;
            }
        }
    });

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--serve")});
    if (!server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "soak: the page server did not start\n");
        return 2;
    }
    QElapsedTimer wall;
    wall.start();
    Module1::WriteSetting(Setting::Address, QString::fromLatin1(server.readLine().trimmed()));
    Module1::WriteSetting(Setting::timer1, "1000");

    // SOAK_WITHOUT names windows to leave closed (timer,internet,lock,names,picture), to see
    // what each costs.
    const QStringList without =
        QString::fromLocal8Bit(qgetenv("SOAK_WITHOUT")).split(',', Qt::SkipEmptyParts);
    WindowRegistry::show<Form1>();
    int loads = 0;
    if (!without.contains("internet"))
        QObject::connect(WindowRegistry::show<internetsettings>()->WebBrowser1(),
                         &platform::WebBrowser::loadEnded, &app, [&loads] { ++loads; });
    if (!without.contains("lock"))
        WindowRegistry::show<password>();
    if (!without.contains("names"))
        WindowRegistry::show<settings>();
    if (!without.contains("picture"))
        WindowRegistry::show<caption1>();
    frmTimer* timer = without.contains("timer") ? nullptr : WindowRegistry::show<frmTimer>();

    int runs = 0;
    QTimer restarter;
    QObject::connect(&restarter, &QTimer::timeout, &app, [&] {
        if (!timer || !timer->cmdStart()->isEnabled())
            return;
        const char* pattern = runs % 2 ? "01010" : "10101";
        for (int k = 1; k <= 5; ++k)
            timer->Text(k)->setText(QString(QLatin1Char(pattern[k - 1])));
        timer->Text11()->setText("0");
        timer->Text12()->setText("10");
        timer->cmdStart()->click();
        ++runs;
    });
    restarter.start(1000);

    auto report = [&](const char* what) {
        std::printf("%s t=%llds letters=%lld timer-runs=%d page-loads=%d boxes=%lld\n", what,
                    qlonglong(wall.elapsed() / 1000), letters.load(), runs, loads,
                    qlonglong(sandbox.boxes().boxes.size()));
        std::fflush(stdout);
    };
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, &app, [&] { report("progress"); });
    progress.start(10000);
    if (seconds > 0)
        QTimer::singleShot(seconds * 1000, &app, [&app] { app.quit(); });

    app.exec();
    report("end");
    const bool ok = sandbox.boxes().boxes.isEmpty() && (!timer || (runs > 0 && letters > 0));
    for (const auto& b : sandbox.boxes().boxes)
        std::fprintf(stderr, "message box: %s\n", qPrintable(b.text));
    WindowRegistry::unloadAll();
    server.terminate();
    server.waitForFinished(5000);
    reading = false;
    board.join();
    return ok ? 0 : 1;
}
