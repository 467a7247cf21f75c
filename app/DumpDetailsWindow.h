// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the held dump holds, message by message: a summary line, the table with
// problem rows marked, a "problems only" filter, and Copy for the report as text.

#include "app/DumpReportModel.h"

#include <QSortFilterProxyModel>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;

namespace tandrel {

class DumpDetailsWindow : public QWidget {
    Q_OBJECT
public:
    explicit DumpDetailsWindow(QWidget* parent = nullptr);

    //! Shows a new report; one that continues the last adds rows.
    void setReport(DumpReport report);

    DumpReportModel* reportModel() { return &model_; }
    QSortFilterProxyModel* shownRows() { return &proxy_; }

    QLabel* lblSummary = nullptr;
    QCheckBox* chkProblemsOnly = nullptr;
    QTableView* tblMessages = nullptr;
    QPushButton* cmdCopy = nullptr;
    QPushButton* cmdClose = nullptr;

private:
    DumpReportModel model_;
    QSortFilterProxyModel proxy_;
};

}  // namespace tandrel
