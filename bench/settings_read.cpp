// Cost of reading one setting, as the lock window does every millisecond.
//   make bench && build/bench/settings_read
#include <cstdio>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "store/Module1.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    for (int n = 1; n <= 5; ++n) {
        Module1::WriteSetting(Setting::ONBUTTON(n), QString("Device %1 on").arg(n));
        Module1::WriteSetting(Setting::OFFBUTTON(n), QString("Device %1 off").arg(n));
    }
    Module1::WriteSetting(Setting::password, "secret");

    const int reads = 20000;
    QElapsedTimer t;
    t.start();
    int matched = 0;
    for (int i = 0; i < reads; ++i)
        matched += Module1::ReadSetting(Setting::password) == QLatin1String("secret");
    const double us = t.nsecsElapsed() / 1e3 / reads;
    std::printf("ReadSetting: %.2f us per read (%d of %d read back right)\n", us, matched, reads);
    std::printf(
        "at one read per millisecond that is %.2f%% of one core (target under 2%% for the "
        "whole idle lock window)\n",
        us / 10.0);
    return matched == reads ? 0 : 1;
}
