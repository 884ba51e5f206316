#pragma once
// "Serial ports": the serial devices present, as scaledb-send --ports lists them, read-only.

#include <QDialog>

class QPushButton;
class QTableWidget;

class TSerialPortsWindow : public QDialog {
 public:
  explicit TSerialPortsWindow(QWidget* parent = nullptr);

  // Looks at the system again.
  void Reload();

  QTableWidget* Table;
  QPushButton* RefreshButton;
};
