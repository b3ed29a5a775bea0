// domivox-port: lists the serial devices, remembers which one is port 1, and checks it.
// `domivox-port --help` tells how.
#include <cstdio>

#include <QCoreApplication>
#include <QTextStream>

#include "PortTool.h"
#include "platform/app/Utf8Locale.h"

int main(int argc, char* argv[]) {
    platform::preferUtf8Locale();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return PortTool::run(args, out, err);
}
