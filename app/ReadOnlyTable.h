#pragma once
// A window of a read-only table, one line a row, with one button of its own at the left and
// "Close" at the right; never wider than its screen, so Close stays in reach.

#include <QDialog>
#include <QStringList>

#include <vector>

class QPushButton;
class QTableWidget;

class TReadOnlyTable : public QDialog {
 public:
  QTableWidget* Table;

 protected:
  TReadOnlyTable(const QString& title, const QStringList& headers, const QString& button, QSize wanted,
                 QWidget* parent);
  // Every cell with its text as its tooltip; each column as wide as its longest text.
  void ShowRows(const std::vector<QStringList>& rows);

  QPushButton* Button;
};
