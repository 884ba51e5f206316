#pragma once
// The serial setup dialog: six settings of one port edited at once, written only on "Zastosuj".

#include "SerialPortCtl.h"

#include <QDialog>

#include <array>

class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;

// True after the last run that ended through a visible button ended with "Zastosuj".
extern bool SetupAccepted;

class TPortSetupFrm : public QDialog {
 public:
  explicit TPortSetupFrm(QWidget* owner = nullptr);

  void FormCreate();
  void sbApplyClick();
  void sbCancelClick();

  // In tab order: port, bit rate, data bits, stop bits, parity, flow control.
  std::array<TPortComboBox*, 6> Combos() const { return {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6}; }

  QGroupBox* GroupBox1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  TPortComboBox* Combo1;
  TPortComboBox* Combo2;
  TPortComboBox* Combo3;
  TPortComboBox* Combo4;
  TPortComboBox* Combo5;
  TPortComboBox* Combo6;
  QToolButton* sbApply;
  QToolButton* sbCancel;
  QPushButton* BitBtnApply;
  QPushButton* BitBtnCancel;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  TPortComboBox* NewCombo(const char* name, TComProperty kind, int top);
  QPushButton* NewHiddenButton(const char* name, const QString& caption, int left);
};

// Runs the dialog for `port`; the accepted settings reach it at once, an open port being
// reconfigured only after the last of them. Errors are passed on once the dialog is gone.
void RunSetupDialog(TCustomComPort& port);
