#pragma once

#include <stdexcept>
#include <string>

#include <QString>

namespace platform {

// A failing platform operation (a write to a closed port, an unreadable picture, an interval
// out of range). Handlers that have an error trap catch it; everything else lets it travel up to
// the nearest event entry point, which reports it without ending the program.
class RuntimeError : public std::runtime_error {
public:
    explicit RuntimeError(const QString& what) : std::runtime_error(what.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

}  // namespace platform
