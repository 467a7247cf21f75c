// SPDX-License-Identifier: GPL-3.0-or-later
#include "ResultTable.h"

#include <algorithm>
#include <array>

namespace tandrel::bench {

namespace {

QString verdictText(ResultTable::Verdict v)
{
    switch (v) {
    case ResultTable::Verdict::Met: return QStringLiteral("yes");
    case ResultTable::Verdict::Missed: return QStringLiteral("**NO**");
    case ResultTable::Verdict::NotMeasured: return QStringLiteral("not measured");
    case ResultTable::Verdict::Info: break;
    }
    return QStringLiteral("—");
}

}  // namespace

QString Fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

void ResultTable::failed(const QString& measure, const QString& goal, const QString& why)
{
    add({measure, QStringLiteral("—"), QStringLiteral("—"), QStringLiteral("—"), goal, Verdict::NotMeasured});
    note(measure + QStringLiteral(": ") + why);
}

QString ResultTable::markdown() const
{
    using Cells = std::array<QString, 6>;
    std::vector<Cells> lines{{QStringLiteral("Measure"), QStringLiteral("Tandrel"), QStringLiteral("Baseline"),
                              QStringLiteral("Figure"), QStringLiteral("Goal"), QStringLiteral("Met")}};
    for (const Row& r : rows_)
        lines.push_back({r.measure, r.tandrel, r.baseline, r.figure, r.goal, verdictText(r.verdict)});

    std::array<qsizetype, 6> widths{};
    for (const Cells& line : lines)
        for (std::size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], line[c].size());
    const auto render = [&](const Cells& line) {
        QString text = QStringLiteral("|");
        for (std::size_t c = 0; c < line.size(); ++c)
            text += QLatin1Char(' ') + line[c].leftJustified(widths[c]) + QStringLiteral(" |");
        return text + QLatin1Char('\n');
    };
    QString out = render(lines.front());
    Cells rule;
    for (std::size_t c = 0; c < rule.size(); ++c)
        rule[c] = QString(widths[c], QLatin1Char('-'));
    out += render(rule);
    for (std::size_t i = 1; i < lines.size(); ++i)
        out += render(lines[i]);
    if (!notes_.isEmpty()) {
        out += QLatin1Char('\n');
        for (const QString& n : notes_)
            out += QStringLiteral("- ") + n + QLatin1Char('\n');
    }
    return out;
}

int ResultTable::missed() const
{
    return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.verdict == Verdict::Missed; }));
}

int ResultTable::notMeasured() const
{
    return static_cast<int>(
        std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.verdict == Verdict::NotMeasured; }));
}

}  // namespace tandrel::bench
