// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace tandrel::bench {

//! The suite's table: one row per figure, with Tandrel's value, the baseline's, the
//! ratio (or other figure the goal is about), the goal and whether it is met. It is
//! written as a Markdown table, so the same text goes to the terminal and to
//! RESULTS.md.
class ResultTable {
public:
    enum class Verdict { Met, Missed, Info, NotMeasured };
    struct Row {
        QString measure;
        QString tandrel;
        QString baseline;
        QString figure;
        QString goal;
        Verdict verdict = Verdict::Info;
    };

    void add(Row row) { rows_.push_back(std::move(row)); }
    //! A row for a figure that could not be taken, with the reason.
    void failed(const QString& measure, const QString& goal, const QString& why);
    void note(const QString& text) { notes_ << text; }

    QString markdown() const;
    int missed() const;
    int notMeasured() const;

private:
    std::vector<Row> rows_;
    QStringList notes_;
};

//! Number formatting for the table.
QString Fixed(double value, int decimals);

}  // namespace tandrel::bench
