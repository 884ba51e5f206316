#pragma once
// The connection settings dialog: serial or Ethernet link and the settings of each.

#include <QDialog>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QToolButton;
class TCustomComPort;
class TRadioGroup;

// Up-down arrows that step the number in an edit field between two limits.
class TUpDown : public QWidget {
 public:
  TUpDown(QLineEdit& associate, int min, int max, QWidget* parent);

  int Position() const { return position_; }
  void SetPosition(int position);
  // Steps from the number the edit shows, or from the last position when it shows none.
  void Step(int delta);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLineEdit& associate_;
  int min_;
  int max_;
  int position_;
};

class TConnectionForm : public QDialog {
 public:
  // `clickOpenPort` performs the main window's "Connect" action, as a click on it would.
  TConnectionForm(TCustomComPort& comPort, std::function<void()> clickOpenPort, QWidget* parent = nullptr);

  void FormShow();
  void rgConnectionClick();
  void GetCOMPortSettings();
  void sbSerialAdvancedClick();
  void sbApplyClick();
  void sbCancelClick();

  TRadioGroup* rgConnection;
  QGroupBox* gbEthernet;
  QLabel* Label1;
  QLineEdit* EditIP;
  QLabel* Label2;
  QLineEdit* EditPort;
  TRadioGroup* rgEthProtocol;
  QGroupBox* gbSerialPort;
  QLabel* LabelCOMPort;
  QLineEdit* EditCOM;
  TUpDown* UpDownCOM;
  QLabel* LabelBaudRate;
  QComboBox* cbBaudRate;
  QLabel* Label34;
  QToolButton* sbSerialAdvanced;
  QToolButton* sbApply;
  QToolButton* sbCancel;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  void BuildEthernetBox();
  void BuildSerialBox();
  void SetTabOrder();

  TCustomComPort& comPort_;
  std::function<void()> clickOpenPort_;
};
