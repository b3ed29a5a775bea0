// The panel on the session bus, as other programs meet it. The real program runs offscreen on a
// private dbus-daemon with a pseudo-terminal as port 1, its main window open:
//
//   1. a Switch call to its letter on the line, n calls (device 3 on and off in turn), beside the
//      same run's empty round trip to the same panel (org.freedesktop.DBus.Peer.Ping) as the
//      floor. Target: median within 2 ms of the floor's median.
//   2. `domivox-send 3 on` as a whole process, exec to exit, m runs, beside `dbus-send
//      --print-reply` of the same method in the same run. Target: median within 1.5x of it.
//   3. wake-ups of the idle panel (context switches of all its threads, /proc/<pid>/task) with
//      the service exported, beside the same panel started without a session bus. Target: the
//      service adds none (at most the figure without a bus).
//
//   bus_calls [n=200] [m=50] [idle-seconds=10]
//
// Exits 1 when a target is missed.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "store/Module1.h"
#include "support/TestSupport.h"

namespace {

struct Stats {
    double median = 0, worst = 0;
};

Stats stats(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

long long contextSwitches(qint64 pid) {
    long long total = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray status = testsupport::readFile(tasks + "/" + task + "/status");
        for (const QByteArray& line : status.split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") ||
                line.startsWith("nonvoluntary_ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return total;
}

// The real panel, its main window open, on the given bus address and port.
class Panel {
public:
    Panel(const QString& busAddress, const QString& port) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        env.insert("DOMIVOX_COM1", port);
        process.setProcessEnvironment(env);
        process.start(DOMIVOX_BIN, {});
        process.waitForStarted();
        QThread::msleep(4000);  // the splash's 2.5 s, then the main window and the port
    }
    ~Panel() {
        process.kill();
        process.waitForFinished();
    }
    double wakeupsPerSecond(int seconds) {
        const long long before = contextSwitches(process.processId());
        QThread::sleep(seconds);
        return (contextSwitches(process.processId()) - before) / double(seconds);
    }
    QProcess process;
};

double runMs(const QString& program, const QStringList& args) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    p.waitForFinished();
    const double ms = t.nsecsElapsed() / 1e6;
    if (p.exitCode() != 0)
        std::printf("  %s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int m = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    const int idle = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;

    testsupport::Sandbox sandbox;
    testsupport::storeFactoryNames();
    Module1::WriteSetting(Setting::disclaimer, QStringLiteral("1"));
    QTemporaryDir runtime;
    const QString address = "unix:path=" + runtime.path() + "/bus";
    QProcess daemon;
    daemon.start("dbus-daemon",
                 {"--session", "--nofork", "--print-address", "--address=" + address});
    daemon.waitForReadyRead();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit());

    bool ok = true;
    double served = 0;
    {
        Panel panel(address, sandbox.pty().slavePath());
        QDBusConnection bus = QDBusConnection::connectToBus(address, "bench");
        const auto call = [](const char* interface, const char* method) {
            return QDBusMessage::createMethodCall("org.example.domivox", "/org/example/domivox",
                                                  interface, method);
        };
        std::vector<double> floor, letter;
        for (int i = 0; i < n + 5; ++i) {
            QElapsedTimer t;
            t.start();
            bus.call(call("org.freedesktop.DBus.Peer", "Ping"));
            const double ping = t.nsecsElapsed() / 1e6;
            QDBusMessage sw = call("org.example.domivox.Panel1", "Switch");
            sw << 3 << (i % 2 == 0);
            t.restart();
            bus.call(sw);
            sandbox.pty().read(1);
            if (i >= 5) {  // the first calls load what a call needs once
                floor.push_back(ping);
                letter.push_back(t.nsecsElapsed() / 1e6);
            }
        }
        const Stats f = stats(floor), l = stats(letter);
        const bool met1 = l.median - f.median <= 2.0;
        std::printf("1. bus call to its letter on the line, n = %d\n", n);
        std::printf("   Peer.Ping (floor)   median %7.3f ms   worst %7.3f ms\n", f.median, f.worst);
        std::printf("   Switch -> letter    median %7.3f ms   worst %7.3f ms\n", l.median, l.worst);
        std::printf("   target: median within 2 ms of the floor (+%.3f ms): %s\n",
                    l.median - f.median, met1 ? "met" : "MISSED");

        std::vector<double> tool, reference;
        for (int i = 0; i < m; ++i) {
            tool.push_back(runMs(DOMIVOX_SEND_BIN, {"3", "on"}));
            reference.push_back(runMs(
                "dbus-send",
                {"--session", "--print-reply", "--dest=org.example.domivox", "/org/example/domivox",
                 "org.example.domivox.Panel1.Switch", "int32:3", "boolean:true"}));
        }
        sandbox.pty().drain();
        const Stats s = stats(tool), r = stats(reference);
        const bool met2 = s.median <= 1.5 * r.median;
        std::printf("2. a whole process, exec to exit, m = %d\n", m);
        std::printf("   dbus-send --print-reply  median %7.2f ms   worst %7.2f ms\n", r.median,
                    r.worst);
        std::printf("   domivox-send 3 on        median %7.2f ms   worst %7.2f ms\n", s.median,
                    s.worst);
        std::printf("   target: within 1.5x of dbus-send (%.2fx): %s\n", s.median / r.median,
                    met2 ? "met" : "MISSED");

        served = panel.wakeupsPerSecond(idle);
        ok = met1 && met2;
    }
    // The same panel, the port free again, with no bus to export on.
    Panel alone("unix:path=" + runtime.path() + "/none", sandbox.pty().slavePath());
    const double without = alone.wakeupsPerSecond(idle);
    const bool met3 = served <= without;
    std::printf("3. idle panel, main window open, %d s\n", idle);
    std::printf("   without a session bus    %.2f wake-ups a second\n", without);
    std::printf("   service exported         %.2f wake-ups a second\n", served);
    std::printf("   target: the service adds no wake-up: %s\n", met3 ? "met" : "MISSED");
    ok = ok && met3;
    daemon.kill();
    daemon.waitForFinished();
    return ok ? 0 : 1;
}
