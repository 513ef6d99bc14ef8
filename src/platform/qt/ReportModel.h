#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <vector>

namespace tavik::platform::qt::detail {

// The rows of the report list: a text and five sub-items each, under the column headers.
class ReportModel final : public QAbstractTableModel {
public:
    static constexpr int kFields = 6; // the text and sub-items 1 to 5
    static constexpr int kShownCharacters = 1000;
    using Row = std::array<QString, kFields>;

    explicit ReportModel(QObject* parent) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(headers_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
            index.column() >= kFields)
            return {};
        // A cell shows the start of its text, elided: no column is wide enough for more,
        // and measuring a long comment whole at every paint would stall the list. Its tooltip,
        // which the view shows where the cell cuts the text off, is bounded the same way.
        const QString& text =
            rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
        return text.size() > kShownCharacters ? text.left(kShownCharacters) + QChar(0x2026) : text;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= columnCount())
            return {};
        return headers_[static_cast<std::size_t>(section)];
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    }

    void appendColumn(const QString& header) {
        const int at = columnCount();
        beginInsertColumns({}, at, at);
        headers_.push_back(header);
        endInsertColumns();
    }
    const QString& header(int column) const { return headers_[static_cast<std::size_t>(column)]; }

    int appendRow(const QString& text) {
        const int at = rowCount();
        beginInsertRows({}, at, at);
        rows_.emplace_back();
        rows_.back()[0] = text;
        endInsertRows();
        return at;
    }
    void removeRowAt(int row) {
        beginRemoveRows({}, row, row);
        rows_.erase(rows_.begin() + row);
        endRemoveRows();
    }
    void clearRows() {
        beginResetModel();
        rows_.clear();
        rows_.shrink_to_fit();
        endResetModel();
    }
    const QString& field(int row, int field) const {
        return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)];
    }
    void setField(int row, int field, QString text) {
        QString& cell = rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)];
        if (cell == text)
            return;
        cell = std::move(text);
        if (field < columnCount()) {
            const QModelIndex changed = index(row, field);
            emit dataChanged(changed, changed, {Qt::DisplayRole});
        }
    }

private:
    std::vector<QString> headers_;
    std::vector<Row> rows_;
};

} // namespace tavik::platform::qt::detail
