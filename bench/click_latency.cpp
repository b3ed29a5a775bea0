// Click-to-wire latency: from a synthesized click on Command1 to the byte being readable on the
// other side of the pseudo-terminal, next to a bare one-byte write(2) on the same terminal.
//   make bench && QT_QPA_PLATFORM=offscreen build/bench/click_latency
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include "mainwindow/Form1.h"
#include "platform/ui/WindowRegistry.h"
#include "store/Module1.h"
#include "support/TestSupport.h"

using mainwindow::Form1;

namespace {

// Waits until the master side has a byte and takes it.
bool takeByte(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) != 1)
        return false;
    char c;
    return ::read(fd, &c, 1) == 1;
}

struct Stats {
    double median, p99, max;
};

Stats stats(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100], us.back()};
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    testsupport::Sandbox sandbox;
    Module1::WriteSetting(Setting::ONBUTTON(1), "START TV");
    Form1* form = platform::WindowRegistry::show<Form1>();
    QPushButton* button = form->Command(1);
    const int fd = sandbox.pty().masterFd();
    const int rounds = 1000;
    QElapsedTimer t;

    std::vector<double> click, bare;
    for (int i = 0; i < rounds; ++i) {
        t.start();
        QTest::mouseClick(button, Qt::LeftButton);
        if (!takeByte(fd)) {
            std::fprintf(stderr, "click %d: no byte arrived\n", i);
            return 1;
        }
        click.push_back(t.nsecsElapsed() / 1e3);
        QCoreApplication::processEvents();
    }

    // The same terminal, written directly by the program's own port.
    const int slave = ::open(qPrintable(sandbox.pty().slavePath()), O_WRONLY | O_NOCTTY);
    for (int i = 0; i < rounds; ++i) {
        t.start();
        if (::write(slave, "a", 1) != 1 || !takeByte(fd))
            return 1;
        bare.push_back(t.nsecsElapsed() / 1e3);
    }
    ::close(slave);

    const Stats c = stats(click), b = stats(bare);
    std::printf("rounds: %d\n", rounds);
    std::printf("click -> byte : median %7.1f us  p99 %7.1f us  max %7.1f us\n", c.median, c.p99,
                c.max);
    std::printf("bare write(2) : median %7.1f us  p99 %7.1f us  max %7.1f us\n", b.median, b.p99,
                b.max);
    const double added = c.median - b.median;
    std::printf("added by the button path (median): %.1f us; target < 500 us: %s\n", added,
                added < 500 ? "met" : "MISSED");
    return 0;
}
