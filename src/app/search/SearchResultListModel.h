#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QVariantMap>
#include <vector>

namespace velto {

// One result list as QML reads it: a row per record, a role per field. The search model owns
// it and replaces the rows whole; replacing them with equal rows announces nothing.
class SearchResultListModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

  public:
    SearchResultListModel(QList<QByteArray> roles, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return int(rows_.size()); }
    // The row's fields by role name; empty when out of range.
    Q_INVOKABLE QVariantMap get(int row) const;
    void setRows(std::vector<QVariantMap> rows);

  signals:
    void countChanged();

  private:
    QList<QByteArray> roles_;
    std::vector<QVariantMap> rows_;
};

}  // namespace velto
