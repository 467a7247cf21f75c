// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DumpReportModel.h"

#include <QBrush>
#include <QColor>
#include <QStringList>

namespace tandrel {

namespace {

QString problemWords(std::uint8_t problems)
{
    static const struct {
        Problem problem;
        const char* words;
    } kWords[] = {{kNotFramed, "not starting with F0"}, {kStatusInside, "status byte inside"},
                  {kBadChecksum, "bad checksum"},       {kAddressGap, "address gap"},
                  {kNotRoland, "not Roland"},           {kNotGT3, "not GT-3"}};
    QStringList words;
    for (const auto& w : kWords)
        if (problems & w.problem)
            words << QString::fromLatin1(w.words);
    return words.join(QStringLiteral(", "));
}

QString grouped(std::size_t n) { return QString::fromStdString(GroupedNumber(n)); }

}  // namespace

int DumpReportModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(report_.messages.size()) + (hasTrailingRow() ? 1 : 0);
}

int DumpReportModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString DumpReportModel::text(int row, int column) const
{
    if (std::size_t(row) == report_.messages.size()) {
        switch (column) {
        case Offset: return grouped(report_.trailingOffset);
        case Length: return grouped(report_.trailingLength);
        case Problems: return QStringLiteral("bytes after the last F7");
        default: return {};
        }
    }
    const MessageReport& m = report_.messages[std::size_t(row)];
    switch (column) {
    case Number: return QString::number(row + 1);
    case Offset: return grouped(m.offset);
    case Length: return grouped(m.length);
    case Model:
        if (m.makerLength == 0)
            return {};
        if (m.problems & kNotRoland)
            return QStringLiteral("maker ") + QString::fromStdString(HexBytes(m.maker, m.makerLength));
        return QString::fromStdString(HexBytes(m.model, m.modelLength));
    case Address: return m.hasAddress ? QString::fromStdString(HexBytes(m.address, 4)) : QString();
    case DataBytes: return m.hasAddress ? grouped(m.dataLength) : QString();
    case ChecksumColumn:
        switch (m.checksum) {
        case Checksum::Valid: return QStringLiteral("valid");
        case Checksum::Bad: return QStringLiteral("BAD");
        case Checksum::None: return QString();
        }
        return {};
    case Problems: return problemWords(m.problems);
    default: return {};
    }
}

QVariant DumpReportModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const bool trailing = std::size_t(index.row()) == report_.messages.size();
    const std::uint8_t problems = trailing ? 0 : report_.messages[std::size_t(index.row())].problems;
    switch (role) {
    case Qt::DisplayRole: return text(index.row(), index.column());
    case ProblemRole: return trailing || problems != 0;
    case Qt::BackgroundRole:
        if (!trailing && (problems & kDamage))
            return QBrush(QColor(255, 205, 205));
        if (trailing || problems)
            return QBrush(QColor(255, 236, 190));
        return {};
    case Qt::ForegroundRole:
        return (trailing || problems) ? QVariant(QBrush(Qt::black)) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == Problems || index.column() == Model || index.column() == Address
                   ? QVariant(int(Qt::AlignLeft | Qt::AlignVCenter))
                   : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
    default: return {};
    }
}

QVariant DumpReportModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kHeaders[] = {"#", "Offset", "Length", "Model", "Address", "Data bytes", "Checksum",
                                           "Problems"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kHeaders[section]) : QVariant();
}

void DumpReportModel::setReport(DumpReport report)
{
    const int before = rowCount();
    const std::size_t held = report_.messages.size();
    // A continuation keeps every message held whole, where it was; the row after
    // them (bytes after the last F7) may have become messages.
    const bool continues = report.messages.size() >= held && held > 0 &&
                           report.messages[held - 1].offset == report_.messages[held - 1].offset &&
                           report.messages[held - 1].length == report_.messages[held - 1].length;
    const int after = int(report.messages.size()) + (report.trailingLength > 0 ? 1 : 0);
    if (!continues || after < before) {
        beginResetModel();
        report_ = std::move(report);
        endResetModel();
        return;
    }
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        report_ = std::move(report);
        endInsertRows();
    } else {
        report_ = std::move(report);
    }
    if (before > 0)
        emit dataChanged(index(0, 0), index(before - 1, ColumnCount - 1));
}

QString DumpReportModel::reportText() const
{
    QString out = QString::fromStdString(report_.summary()) + u'\n';
    QStringList header;
    for (int c = 0; c < ColumnCount; ++c)
        header << headerData(c, Qt::Horizontal).toString();
    out += header.join(u'\t') + u'\n';
    for (int r = 0; r < rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < ColumnCount; ++c)
            cells << text(r, c);
        out += cells.join(u'\t') + u'\n';
    }
    return out;
}

}  // namespace tandrel
