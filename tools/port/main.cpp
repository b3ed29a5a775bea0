// domivox-port: lists the serial devices, remembers which one is port 1, and checks it.
// `domivox-port --help` tells how.
#include <cerrno>
#include <cstdio>
#include <cstring>

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
    const int status = PortTool::run(args, out, err);
    // What the stream took may still sit in stdio's buffer, whose writing can fail too.
    if (std::fflush(stdout) != 0 && status == PortTool::kOk) {
        std::fprintf(stderr, "domivox-port: the output could not be written: %s\n",
                     std::strerror(errno));
        return PortTool::kFailed;
    }
    return status;
}
