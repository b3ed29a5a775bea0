// What an idle panel costs: every window open (main, internet settings on a page on 127.0.0.1
// whose title never changes, refresh 30,000 ms, lock, timer, both editors, help) and nothing
// happening. Counted for the whole process: wake-ups (voluntary plus involuntary context
// switches of all its threads, from /proc/self/task/*/status) and processor time, first with the
// clocks ticking literally, then with sleeping watchers, in the same run and the same windows.
//
//   idle_wakeups [seconds]     (default 30 each)
//
// Targets with sleeping watchers: at most 20 wake-ups a second and 0.2 % of one core. Runs
// headless unless QT_QPA_PLATFORM says otherwise. Exits 1 when a target is missed.

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include "../tests/support/HttpTestServer.h"
#include "editors/caption1.h"
#include "editors/settings.h"
#include "lock/password.h"
#include "mainwindow/Form1.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/ui/WindowRegistry.h"
#include "platform/web/WebBrowser.h"
#include "remote/internetsettings.h"
#include "schedule/frmTimer.h"
#include "startup/Helpme.h"
#include "store/Module1.h"
#include "support/TestSupport.h"

using editors::caption1;
using editors::settings;
using lock::password;
using mainwindow::Form1;
using remote::internetsettings;
using schedule::frmTimer;
using startup::Helpme;

using platform::WindowRegistry;

namespace {

constexpr double kWakeupsTarget = 20.0;
constexpr double kCpuTargetPercent = 0.2;

// Context switches of every thread of this process so far.
long long contextSwitches() {
    long long total = 0;
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") ||
                line.startsWith("nonvoluntary_ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return total;
}

struct Idle {
    double seconds = 0;
    double wakeups = 0;  // per second
    double percent = 0;  // of one core
    int threads = 0;
};

// The program's own event loop, as QApplication::exec runs it, for the given time.
Idle measure(int seconds) {
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    QElapsedTimer wall;
    const double cpu0 = testsupport::cpuSeconds();
    const long long switches0 = contextSwitches();
    wall.start();
    loop.exec();
    Idle r;
    r.seconds = wall.nsecsElapsed() / 1e9;
    r.wakeups = (contextSwitches() - switches0) / r.seconds;
    r.percent = 100.0 * (testsupport::cpuSeconds() - cpu0) / r.seconds;
    r.threads =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    return r;
}

void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;

    testsupport::Sandbox sandbox;
    testsupport::storeFactoryNames();
    // The help window shows the shipped manual, as it does when installed.
    QFile::copy(QStringLiteral(DOMIVOX_SOURCE_DIR "/assets/README.RTF"),
                sandbox.appDir() + QStringLiteral("/README.RTF"));
    testhttp::Server server;
    server.setTitle("/remote", "00000");
    Module1::WriteSetting(Setting::Address, server.url("/remote"));
    Module1::WriteSetting(Setting::timer1, QStringLiteral("30000"));
    Module1::WriteSetting(Setting::password, QStringLiteral("idle"));

    WindowRegistry::show<Form1>();
    auto* internet = WindowRegistry::show<internetsettings>();
    WindowRegistry::show<password>();
    WindowRegistry::show<frmTimer>();
    WindowRegistry::show<settings>();
    WindowRegistry::show<caption1>();
    WindowRegistry::show<Helpme>();

    // Literal first: the page is in and the first poll is over before the sleeping run starts.
    platform::IntervalTimer::setLiteralTicking(true);
    settle(2000);
    const int hits0 = server.hits("/remote");
    const Idle literal = measure(seconds);
    platform::IntervalTimer::setLiteralTicking(false);
    settle(500);
    const int hits1 = server.hits("/remote");
    const Idle sleeping = measure(seconds);
    const int hits2 = server.hits("/remote");

    const QByteArray sent = sandbox.pty().drain();
    const bool quiet = sent.isEmpty() && sandbox.boxes().boxes.isEmpty();
    const bool wakeOk = sleeping.wakeups <= kWakeupsTarget;
    const bool cpuOk = sleeping.percent <= kCpuTargetPercent;

    std::printf("every window open, nothing happening, %d s each (page \"%s\", refresh %d ms)\n",
                seconds, qPrintable(internet->WebBrowser1()->LocationName()),
                internet->Timer1()->Interval());
    std::printf("                      literal ticking   sleeping watchers   ratio\n");
    std::printf("  wake-ups per second  %14.1f   %17.1f   %5.1fx\n", literal.wakeups,
                sleeping.wakeups, literal.wakeups / std::max(0.01, sleeping.wakeups));
    std::printf("  share of one core    %13.3f%%   %16.3f%%   %5.1fx\n", literal.percent,
                sleeping.percent, literal.percent / std::max(0.001, sleeping.percent));
    std::printf("  page reloads         %14d   %17d\n", hits1 - hits0, hits2 - hits1);
    std::printf("  threads              %14d   %17d\n", literal.threads, sleeping.threads);
    std::printf("nothing sent, no message: %s\n", quiet ? "yes" : "NO");
    if (!sent.isEmpty())
        std::printf("  sent: \"%s\"\n", sent.constData());
    for (const auto& box : sandbox.boxes().boxes)
        std::printf("  message: \"%s\"\n", qPrintable(box.text));
    std::printf("target: at most %.0f wake-ups a second: %s\n", kWakeupsTarget,
                wakeOk ? "met" : "MISSED");
    std::printf("target: at most %.1f %% of one core: %s\n", kCpuTargetPercent,
                cpuOk ? "met" : "MISSED");
    WindowRegistry::unloadAll();
    return wakeOk && cpuOk && quiet ? 0 : 1;
}
