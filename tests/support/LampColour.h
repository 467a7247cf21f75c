// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QString>

namespace tandrel::testing {

//! Which of the verdict lamp's colours a pixel of its lens shows, by hue; the
//! pixel's own name when it is none of them.
inline QString lampColour(const QColor& c)
{
    const double hue = c.hueF();
    if (c.valueF() < 0.45)
        return "dark";
    if (hue > 0.25 && hue < 0.45)
        return "green";
    if (hue > 0.07 && hue < 0.17)
        return "amber";
    if (hue >= 0 && (hue < 0.03 || hue > 0.97))
        return "red";
    return c.name();
}

}  // namespace tandrel::testing
