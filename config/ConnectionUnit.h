#pragma once
// The connection settings dialog: serial or Ethernet link and the settings of each.

#include <QDialog>

#include <functional>

class TCustomComPort;

class TConnectionForm : public QDialog {
 public:
  // `clickOpenPort` performs the main window's "Connect" action, as a click on it would.
  TConnectionForm(TCustomComPort& comPort, std::function<void()> clickOpenPort, QWidget* parent = nullptr);

 private:
  TCustomComPort& comPort_;
  std::function<void()> clickOpenPort_;
};
