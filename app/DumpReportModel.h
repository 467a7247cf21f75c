// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The verifier's report as a table: one row a message, and one for bytes after
// the last F7. It holds the report only (offsets, lengths, header fields), never
// the dump's bytes, so a large dump is not held twice.

#include "dump/DumpVerifier.h"

#include <QAbstractTableModel>

namespace tandrel {

class DumpReportModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, Offset, Length, Model, Address, DataBytes, ChecksumColumn, Problems, ColumnCount };
    //! True on rows with a problem; what the "problems only" filter keys on.
    static constexpr int ProblemRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    //! Takes a new report. A report that continues the one held (a Receive going
    //! on) adds rows, so the view keeps its place; any other resets the table.
    void setReport(DumpReport report);
    const DumpReport& report() const { return report_; }

    //! The summary, a header line and every row, tab-separated, for the clipboard.
    QString reportText() const;

private:
    QString text(int row, int column) const;
    bool hasTrailingRow() const { return report_.trailingLength > 0; }

    DumpReport report_;
};

}  // namespace tandrel
