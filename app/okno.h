#pragma once
// The main window: table, connect toggle, transfer button, device and database kinds.

#include "DatabaseModel.h"
#include "EthConnection.h"
#include "SerialPort.h"
#include "Session.h"
#include "XMLConfig.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QPushButton;
class QTableView;
class QWindow;
class TConnectionForm;
class TRadioGroup;

class TForm1 : public QMainWindow, public ITransferView {
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  void FormActivate();
  void FormClose();
  void btnOpenPortClick();
  void ShowConnectionState();
  void OnUpdatePortMessage(const TPortStateEvent& message);
  void Rs2321Click();
  void rgUrzadzenieClick();
  void Otwrz1Click();
  void bbWyslijBazeClick();
  void ComPort1RxChar(int count);
  // The single entry for text received from the scale, over any link.
  void HandleReply(const std::string& text, int length);
  // Frames the command for the link the connection settings select and sends it.
  void SendOrder(const std::string& command);
  void ShowTransferResult(bool failed);

  // ITransferView
  int RowCount() const override;
  std::string RowText(int row) const override;
  int DatabaseKindPosition() const override;
  int SendButtonTag() const override;
  void SetSendButtonTag(int tag) override;

  void SetConnectionForm(TConnectionForm* form) { ConnectionForm = form; }
  // Chooses the database file; empty when the operator cancels. Tests replace it.
  std::function<QString()> OpenDialog1;

  TComPort ComPort1;
  std::unique_ptr<CEthConnection> Connection;
  TXMLConfig XMLConfig;
  TDatabaseModel Database;
  // The window's scale session and its transfer engine.
  TScaleSession Session;
  TTransfer& Transfer;
  uint8_t PortState = 0;

  QTableView* StringGrid1;
  QPushButton* btnOpenPort;
  QPushButton* bbWyslijBaze;
  TRadioGroup* rgUrzadzenie;
  TRadioGroup* rgBaza;
  QLabel* LabelConnection;
  QAction* Otwrz1;
  QAction* Rs2321;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void BuildControls();
  void BuildMenu();
  void SetLabelColour(const QColor& colour);
  void OnFocusWindowChanged(QWindow* window);
  QString ChooseDatabaseFile();

  TConnectionForm* ConnectionForm = nullptr;
  bool closed_ = false;
  bool activatedOnce_ = false;
  bool returningFromOtherProgram_ = false;
};

// "4800", "9600", ... or "user defined" for the rates the label does not name.
QString BaudDisplayText(TBaudRate rate);
