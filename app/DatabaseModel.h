#pragma once
// Read-only view model over the database table.

#include "DatabaseTable.h"

#include <QAbstractTableModel>

#include <memory>

class TDatabaseModel : public QAbstractTableModel {
 public:
  explicit TDatabaseModel(QObject* parent = nullptr);

  const TDatabaseTable& Table() const { return *table_; }
  // The table as shown; a transfer keeps it while another file is opened.
  std::shared_ptr<const TDatabaseTable> SharedTable() const { return table_; }
  void SetTable(TDatabaseTable table);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  std::shared_ptr<const TDatabaseTable> table_ = std::make_shared<const TDatabaseTable>();
};
