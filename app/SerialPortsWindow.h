#pragma once
// "Serial ports": the serial devices present, as scaledb-send --ports lists them, read-only.

#include "ReadOnlyTable.h"

class TSerialPortsWindow : public TReadOnlyTable {
 public:
  explicit TSerialPortsWindow(QWidget* parent = nullptr);

  // Looks at the system again.
  void Reload();

  QPushButton* RefreshButton;
};
