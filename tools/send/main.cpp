// domivox-send: switches a device through the running Domivox panel. `domivox-send --help` tells
// how.
#include <cstdio>

#include <QCoreApplication>
#include <QTextStream>

#include "SendTool.h"
#include "platform/app/Utf8Locale.h"

int main(int argc, char* argv[]) {
    platform::preferUtf8Locale();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return SendTool::run(args, out, err);
}
