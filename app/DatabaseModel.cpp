#include "DatabaseModel.h"

#include "TextDecode.h"

TDatabaseModel::TDatabaseModel(QObject* parent) : QAbstractTableModel(parent) {}

void TDatabaseModel::SetTable(TDatabaseTable table) {
  beginResetModel();
  table_ = std::make_shared<const TDatabaseTable>(std::move(table));
  endResetModel();
}

int TDatabaseModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_->RowCount();
}

int TDatabaseModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_->ColumnCount();
}

QVariant TDatabaseModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return DecodeCellText(table_->Cell(index.column(), index.row()));
}

Qt::ItemFlags TDatabaseModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
