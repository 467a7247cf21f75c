// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DumpDetailsWindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace tandrel {

DumpDetailsWindow::DumpDetailsWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Tandrel - Dump details"));
    resize(640, 420);

    lblSummary = new QLabel(this);
    lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblSummary->setWordWrap(true);

    proxy_.setSourceModel(&model_);
    proxy_.setFilterRole(DumpReportModel::ProblemRole);
    proxy_.setFilterKeyColumn(0);

    tblMessages = new QTableView(this);
    tblMessages->setModel(&proxy_);
    tblMessages->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblMessages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblMessages->setWordWrap(false);
    tblMessages->verticalHeader()->setVisible(false);
    // Fixed row heights keep a table of tens of thousands of rows quick to scroll.
    tblMessages->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tblMessages->verticalHeader()->setDefaultSectionSize(tblMessages->fontMetrics().height() + 4);
    tblMessages->horizontalHeader()->setStretchLastSection(true);
    tblMessages->setAccessibleName(QStringLiteral("Messages of the dump"));

    chkProblemsOnly = new QCheckBox(QStringLiteral("&Problems only"), this);
    cmdCopy = new QPushButton(QStringLiteral("&Copy"), this);
    cmdCopy->setToolTip(QStringLiteral("Copy the whole report as text"));
    cmdClose = new QPushButton(QStringLiteral("Close"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(chkProblemsOnly);
    buttons->addStretch();
    buttons->addWidget(cmdCopy);
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblSummary);
    layout->addWidget(tblMessages);
    layout->addLayout(buttons);

    connect(chkProblemsOnly, &QCheckBox::toggled, this, [this](bool only) {
        proxy_.setFilterFixedString(only ? QStringLiteral("true") : QString());
    });
    connect(cmdCopy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(model_.reportText()); });
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
}

void DumpDetailsWindow::setReport(DumpReport report)
{
    lblSummary->setText(QString::fromStdString(report.summary()));
    const bool first = model_.rowCount() == 0;
    model_.setReport(std::move(report));
    if (first)
        tblMessages->resizeColumnsToContents();
}

}  // namespace tandrel
