#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <deque>
#include <string>
#include <vector>

namespace tavik::platform::qt::detail {

// The rows of the report list: a text and five sub-items each, under the column headers.
// The texts are kept as the control hands them over, in UTF-8, and converted for Qt only
// when a cell is shown: a load moves them in without a copy or a conversion, and short
// texts take no memory of their own.
class ReportModel final : public QAbstractTableModel {
public:
    static constexpr int kFields = 6; // the text and sub-items 1 to 5
    static constexpr int kShownCharacters = 1000;
    using Row = std::array<std::string, kFields>;

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
        // A cell shows the start of its text, elided; its tooltip, which the view shows
        // where the cell cuts the text off, is bounded the same way.
        return shownText(
            rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]);
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

    int appendRow(std::string text) {
        const int at = rowCount();
        beginInsertRows({}, at, at);
        rows_.emplace_back();
        rows_.back()[0] = std::move(text);
        endInsertRows();
        if (!shownCheckQueued_) {
            shownCheckQueued_ = true;
            QMetaObject::invokeMethod(this, &ReportModel::markShown, Qt::QueuedConnection);
        }
        return at;
    }
    void removeRowAt(int row) {
        markShown();
        beginRemoveRows({}, row, row);
        rows_.erase(rows_.begin() + row);
        endRemoveRows();
    }
    void clearRows() {
        beginResetModel();
        std::deque<Row>().swap(rows_); // gives the memory back, not only the rows
        unshownFrom_ = 0;
        endResetModel();
    }
    const std::string& field(int row, int field) const {
        return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)];
    }
    void setField(int row, int field, std::string text) {
        std::string& cell = rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)];
        if (cell == text)
            return;
        cell = std::move(text);
        if (field < columnCount() && row < unshownFrom_) {
            const QModelIndex changed = index(row, field);
            emit dataChanged(changed, changed, {Qt::DisplayRole});
        }
    }

    // From here on, a change to any row is signalled: the rows may have been shown.
    void markShown() {
        unshownFrom_ = rowCount();
        shownCheckQueued_ = false;
    }

private:
    // A cell shows the start of its text, elided: no column is wide enough for more, and
    // measuring a long comment whole at every paint would stall the list. Only the start is
    // converted: three bytes of UTF-8 hold at least one UTF-16 unit.
    static QString shownText(const std::string& text) {
        constexpr std::size_t enough = 3 * kShownCharacters + 3;
        if (text.size() <= enough)
            return elided(QString::fromUtf8(text.data(), qsizetype(text.size())), false);
        std::size_t cut = enough; // between characters: a character has three bytes after its lead
        for (int back = 0; back < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
             ++back)
            --cut;
        return elided(QString::fromUtf8(text.data(), qsizetype(cut)), true);
    }
    static QString elided(const QString& text, bool cut) {
        return cut || text.size() > kShownCharacters ? text.left(kShownCharacters) + QChar(0x2026)
                                                     : text;
    }

    std::vector<QString> headers_;
    // Appended rows are never moved, and their storage comes in small pieces.
    std::deque<Row> rows_;
    // Rows from this one on were appended since the event loop last ran, so no view has shown
    // them yet: setting their cells (five per row in a load) needs no change signal.
    int unshownFrom_ = 0;
    bool shownCheckQueued_ = false;
};

} // namespace tavik::platform::qt::detail
