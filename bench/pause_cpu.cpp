// CPU used while Pause(0.25) waits, against a busy wait of the same length.
//   make bench && QT_QPA_PLATFORM=offscreen build/bench/pause_cpu

#include <cstdio>

#include <QApplication>
#include <QTimer>

#include "device/Module2.h"
#include "platform/clock/Clock.h"
#include "support/TestSupport.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Something else ticking, as the windows' clocks do while a pattern is applied.
    QTimer tick;
    tick.start(10);
    QObject::connect(&tick, &QTimer::timeout, &app, [] {});

    const int pauses = 20;
    const double wall0 = platform::monotonicSeconds(), cpu0 = testsupport::cpuSeconds();
    double longest = 0;
    for (int i = 0; i < pauses; ++i) {
        const double s = platform::monotonicSeconds();
        Module2::Pause(0.25);
        longest = std::max(longest, platform::monotonicSeconds() - s);
    }
    const double wall = platform::monotonicSeconds() - wall0,
                 cpu = testsupport::cpuSeconds() - cpu0;

    const double b0 = platform::monotonicSeconds(), bc0 = testsupport::cpuSeconds();
    while (platform::monotonicSeconds() - b0 < 0.25)
        QCoreApplication::processEvents();
    const double busyShare =
        (testsupport::cpuSeconds() - bc0) / (platform::monotonicSeconds() - b0);

    std::printf(
        "%d x Pause(0.25): wall %.3f s, CPU %.4f s = %.2f%% of one core "
        "(target < 5%%: %s); longest single pause %.4f s\n",
        pauses, wall, cpu, 100 * cpu / wall, 100 * cpu / wall < 5 ? "met" : "MISSED", longest);
    std::printf("busy wait of 0.25 s for comparison: %.1f%% of one core\n", 100 * busyShare);
    return 0;
}
