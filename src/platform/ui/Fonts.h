#pragma once

#include <QFont>
#include <QString>

namespace platform {

// The windows name the fonts they were designed with (MS Sans Serif, Arial); Linux has neither,
// so both are mapped to Liberation Sans, which keeps Arial's metrics. The default font of every
// control becomes MS Sans Serif 8 pt.
void installFonts();

QFont designFont(const QString& family, double points, bool bold = false);

}  // namespace platform
