// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/SettingsKeys.h"

#include <QCoreApplication>

#include <cmath>
#include <limits>

namespace tandrel::settings {

double Val(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const qsizetype digitsFrom = i;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128)
        ++i;
    qsizetype digits = i - digitsFrom;
    if (i < n && text[i] == u'.') {
        qsizetype j = i + 1;
        while (j < n && text[j].isDigit() && text[j].unicode() < 128)
            ++j;
        digits += j - i - 1;
        i = j;
    }
    if (digits == 0)
        return 0.0;
    bool ok = false;
    const double v = text.mid(start, i - start).toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

std::int16_t ValInt16(const QString& text)
{
    const double v = std::nearbyint(Val(text));  // default rounding: halves to even
    constexpr double lo = std::numeric_limits<std::int16_t>::min();
    constexpr double hi = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(v < lo ? lo : v > hi ? hi : v);
}

QString SignedText(long long n)
{
    return n < 0 ? QString::number(n) : QLatin1Char(' ') + QString::number(n);
}

QString ExecutableFolder()
{
    return QCoreApplication::applicationDirPath();
}

}  // namespace tandrel::settings
