#include "app/search/SearchResultListModel.h"

namespace velto {

SearchResultListModel::SearchResultListModel(QList<QByteArray> roles, QObject* parent)
    : QAbstractListModel(parent), roles_(std::move(roles)) {}

int SearchResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

QVariant SearchResultListModel::data(const QModelIndex& index, int role) const {
    const int field = role - Qt::UserRole;
    if (!index.isValid() || index.row() < 0 || index.row() >= int(rows_.size()) || field < 0 ||
        field >= roles_.size()) {
        return {};
    }
    return rows_[std::size_t(index.row())].value(QString::fromUtf8(roles_[field]));
}

QHash<int, QByteArray> SearchResultListModel::roleNames() const {
    QHash<int, QByteArray> names;
    for (int i = 0; i < roles_.size(); ++i) names.insert(Qt::UserRole + i, roles_[i]);
    return names;
}

QVariantMap SearchResultListModel::get(int row) const {
    if (row < 0 || row >= int(rows_.size())) return {};
    return rows_[std::size_t(row)];
}

void SearchResultListModel::setRows(std::vector<QVariantMap> rows) {
    if (rows == rows_) return;
    const bool countMoves = rows.size() != rows_.size();
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
    if (countMoves) emit countChanged();
}

}  // namespace velto
