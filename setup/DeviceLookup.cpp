// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/DeviceLookup.h"

namespace tandrel {

QString WithoutClientPort(const QString& name)
{
    // Walks back over "<digits>:<digits>" and the blank before it.
    qsizetype i = name.size();
    auto digitsBefore = [&](qsizetype end) {
        qsizetype j = end;
        while (j > 0 && name[j - 1].unicode() >= '0' && name[j - 1].unicode() <= '9')
            --j;
        return j;
    };
    const qsizetype portFrom = digitsBefore(i);
    if (portFrom == i || portFrom == 0 || name[portFrom - 1] != u':')
        return name;
    const qsizetype clientFrom = digitsBefore(portFrom - 1);
    if (clientFrom == portFrom - 1 || clientFrom == 0 || name[clientFrom - 1] != u' ')
        return name;
    return name.left(clientFrom - 1);
}

std::optional<int> FindDevice(const QStringList& names, const QString& stored, int storedPosition)
{
    if (stored.isEmpty())
        return std::nullopt;
    auto best = [&](auto&& same) -> std::optional<int> {
        if (storedPosition >= 0 && storedPosition < names.size() && same(names[storedPosition]))
            return storedPosition;
        for (int i = 0; i < names.size(); ++i)
            if (same(names[i]))
                return i;
        return std::nullopt;
    };
    if (const auto exact = best([&](const QString& n) { return n == stored; }))
        return exact;
    const QString bare = WithoutClientPort(stored);
    if (bare.isEmpty())
        return std::nullopt;
    return best([&](const QString& n) { return WithoutClientPort(n) == bare; });
}

}  // namespace tandrel
