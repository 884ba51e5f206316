#pragma once
// The main window: table, connect toggle, transfer button, device and database kinds.

#include "DatabaseModel.h"
#include "EthConnection.h"
#include "FileCheck.h"
#include "Ledger.h"
#include "ScaleLock.h"
#include "SerialPort.h"
#include "Session.h"
#include "TransferRecord.h"
#include "XMLConfig.h"

#include <QMainWindow>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QPushButton;
class QTableView;
class QWindow;
class TConnectionForm;
class TRadioGroup;
class TScalesBoard;
struct TBoardJob;
class TSerialPortsWindow;
class TTransferHistoryWindow;
class TTransferProgress;
class TWindowLink;

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
  // Starts the transfer, or stops it while the engine says it is stoppable.
  void bbWyslijBazeClick();
  // The pace timer's tick of the window's transfer.
  void TimerBazaTimer();
  void ComPort1RxChar(int count);
  // The port's device went away: the port closes, a running transfer fails.
  void ComPort1DeviceLost();
  // "Serial ports": the serial devices present.
  void SerialPorts1Click();
  // Text received from the scale, over any link: it reaches the session through the window's link.
  void HandleReply(const std::string& text, int length);
  // Frames the command for the link the connection settings select and sends it.
  void SendOrder(const std::string& command);
  void ShowTransferResult(bool failed);
  // A transfer that gave up: the reason, then the failure text.
  void ShowTransferAbandoned(const std::string& reason);
  // Appends the transfer to the history; the first failure to do so goes to the status line.
  void RecordTransfer(const TTransferRecord& record);
  // "File → Transfer history".
  void TransferHistory1Click();
  // "File → Scales": the shop's scales, beside the main window.
  void Scales1Click();
  // What "Send database" would send now, for the Scales board.
  TBoardJob BoardJob() const;
  // "File → Check file": the opened file's check in a read-only dialog.
  void CheckFile1Click();
  // "File → Transfer settings": the code page and the transfer's patience, kept in config.xml.
  void TransferSettings1Click();
  // Applies new transfer settings: the engine's limits, the file check and the row encoding.
  void ApplyTransferSettings(const TTransferSettings& settings);

  // ITransferView
  int RowCount() const override;
  std::string RowText(int row) const override;
  int DatabaseKindPosition() const override;
  // The engine's Stoppable() on bbWyslijBaze: its tag (1 "Stop", 0 "Send database") mirrors it.
  void ShowStoppable(bool stoppable) override;
  int SendButtonTag() const;
  void SetSendButtonTag(int tag);

  void SetConnectionForm(TConnectionForm* form) { ConnectionForm = form; }
  // Chooses the database file; empty when the operator cancels. Tests replace it.
  std::function<QString()> OpenDialog1;

  TComPort ComPort1;
  std::unique_ptr<CEthConnection> Connection;
  TXMLConfig XMLConfig;
  TDatabaseModel Database;
  // The window's scale session, its transfer engine and the engine's pace timer.
  TScaleSession Session;
  TTransfer& Transfer;
  TPaceTimer& TimerBaza;
  // Every transfer of the window as one line of the transfer history.
  TTransferRecorder Recorder;
  // The unsigned copy of the posted LinkState (lsClosing reads 255).
  uint8_t PortState = lsDisconnected;
  // The database file opened last; empty before the first.
  std::string DatabaseFileName;
  // The check of that file under the transfer settings.
  TFileReport FileReport;

  QTableView* StringGrid1;
  QPushButton* btnOpenPort;
  QPushButton* bbWyslijBaze;
  TRadioGroup* rgUrzadzenie;
  TRadioGroup* rgBaza;
  QLabel* LabelConnection;
  TTransferProgress* Progress;
  QAction* Otwrz1;
  QAction* TransferHistory1;
  QAction* Scales1;
  QAction* CheckFile1;
  QAction* TransferSettings1;
  // The file check's summary, at the right of the status line.
  QLabel* FileSummary;
  // Why the serial port is not open (it did not open, or its device went away), at the left of
  // the status line, until it opens.
  QLabel* PortDiagnosis;
  QAction* Rs2321;
  QAction* SerialPorts1;
  TTransferHistoryWindow* HistoryWindow = nullptr;
  TScalesBoard* ScalesBoard = nullptr;
  // What every scale holds; opened at start in the state directory.
  std::unique_ptr<TLedger> Ledger;
  TSerialPortsWindow* SerialPortsWindow = nullptr;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void BuildControls();
  void BuildMenu();
  void SetLabelColour(const QColor& colour);
  // The cause of a failed open and its fix, in the status line; none after a good open.
  void ShowOpenDiagnosis(std::exception_ptr failure);
  void ShowPortDiagnosis(const std::string& text);
  void ReportLinkFailure(const std::string& reason);
  void OnFocusWindowChanged(QWindow* window);
  QString ChooseDatabaseFile();
  TTransferRecord DescribeTransfer() const;
  void ShowSentRow(int row);
  void CheckOpenedFile();
  void RefreshBoardHolds();
  void TakeTransferTable();
  // Takes the lock of the scale the window would send to; false, with the box, when it is busy.
  bool LockScale();
  void LedgerBegin();
  void SayLedgerNotice();
  TLinkSettings WindowLinkSettings() const;
  void ReportUnreadableSettings(const std::string& serialFailure);
  TWindowLink& WindowLink();
  TConfigSave SaveSerialSettings();
  void ReportFailedSaves(const std::vector<TConfigSave>& saves);
  // The table a transfer reads: the one it started with, else the one shown.
  const TDatabaseTable& TransferTable() const { return transferTable_ ? *transferTable_ : Database.Table(); }
  // Why "Connect" must not open the link as set; empty when it may.
  std::string ConnectRefusal() const;

  TConnectionForm* ConnectionForm = nullptr;
  bool closed_ = false;
  bool activatedOnce_ = false;
  bool returningFromOtherProgram_ = false;
  bool historyFailureReported_ = false;
  // Kept from the start of a transfer to its end, so a file opened meanwhile changes nothing of it.
  std::shared_ptr<const TDatabaseTable> transferTable_;
  // The opened file's rows on their way to the scale's code page; handed to the session at a start.
  std::function<std::string(std::string)> rowEncoder_;
  // One sender per scale: held from "Send database" to the end of its transfer.
  TScaleLock scaleLock_;
  int64_t ledgerId_ = 0;
  std::string ledgerScale_;
};

// "4800", "9600", ... or "user defined" for the rates the label does not name.
QString BaudDisplayText(TBaudRate rate);

// The database kind as the history names it: "products" (or "labels" on a scale with KX-17),
// "users", "statuses".
std::string DatabaseKindName(int deviceType, int position);
