#include "ReadOnlyTable.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

TReadOnlyTable::TReadOnlyTable(const QString& title, const QStringList& headers, const QString& button, QSize wanted,
                               QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(title);
  const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  resize(screen ? wanted.boundedTo(screen->availableGeometry().size() * 0.9) : wanted);

  Table = new QTableWidget(this);
  Table->setColumnCount(static_cast<int>(headers.size()));
  Table->setHorizontalHeaderLabels(headers);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->verticalHeader()->hide();
  // One line a row; the table scrolls sideways.
  Table->setWordWrap(false);

  Button = new QPushButton(button, this);
  auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button);
  buttons->addStretch(1);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Table);
  layout->addLayout(buttons);
}

void TReadOnlyTable::ShowRows(const std::vector<QStringList>& rows) {
  Table->setRowCount(static_cast<int>(rows.size()));
  for (int row = 0; row < Table->rowCount(); ++row) {
    const QStringList& cells = rows[static_cast<size_t>(row)];
    for (int column = 0; column < cells.size(); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(cells[column]);
      Table->setItem(row, column, item);
    }
  }
  Table->resizeColumnsToContents();
}
