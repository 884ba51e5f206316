#pragma once
// "File → Scales": the shop's scales from scales.targets, what each holds of the open table, and
// sending that table to all of them, or to those selected, at once through the runner of many
// scales. What is shown of a round follows it at a display rate, so painting never holds up a
// scale's rhythm.

#include "ScaleRunner.h"
#include "ScalesList.h"

#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class TDatabaseTable;
class TLedger;

// What "Send database" would send now: the open table, the database kind and the transfer
// settings of the main window.
struct TBoardJob {
  std::shared_ptr<const TDatabaseTable> Table;  // none before a file is opened
  std::string File;
  std::string Kind;
  int KindPosition = 0;
  std::function<std::string(std::string)> RowEncoder;
  std::string Refusal;  // why the file cannot be sent (its code page); empty when it can
  int PaceMs = 100;
  int AnswerTimeoutMs = 15000;
  int Retries = 5;
  // The main window's connection has the local UDP port open, so no UDP scale can be reached.
  bool WindowHoldsUdpPort = false;
};

// One scale's line of the list: its name and link. OK keeps the dialog open, the reason in its
// words, until the line names a scale the list can hold.
class TScaleEntryDialog : public QDialog {
 public:
  // `current` is the line edited, none for a new one; a line that cannot be read starts the form
  // from what can be read of it, and says why it cannot.
  TScaleEntryDialog(const std::optional<TScalesLine>& current, QWidget* parent = nullptr);
  // The line the controls describe.
  TScalesLine Line() const;
  // Why the line is no scale the list can hold, by the parse of --targets; empty when it is one.
  std::string Problem() const;
  void accept() override;

  QLineEdit* Name;
  QComboBox* Kind;  // "serial", "TCP", "UDP"
  QLineEdit* Host;
  QSpinBox* Port;
  QLineEdit* SerialPort;
  QComboBox* Rate;
  QLabel* Error;

 private:
  void ShowKind();
  void ShowLink(const TTarget& target);
};

class TScalesBoard : public QWidget {
 public:
  enum TColumn { kName, kLink, kHolds, kLastSuccess, kRound, kColumns };

  TScalesBoard(TLedger& ledger, std::function<TBoardJob()> job, QWidget* parent = nullptr);
  ~TScalesBoard() override;

  // Reads scales.targets again.
  void Load();
  // What "File → Scales" shows again: the list, read again when it could not be read before, and
  // the holds.
  void Refresh();
  void SendToAll();
  void SendToSelected();
  // Every scale still under way ends "stopped".
  void StopAll();
  bool Sending() const;
  // The round's UDP scales have the local UDP port bound.
  bool HoldsUdpPort() const;
  // The holds and last-success columns, from the ledger, for the table that is open now.
  void RefreshHolds();

  QTableWidget* Table;
  QPushButton* AddButton;
  QPushButton* EditButton;
  QPushButton* RemoveButton;
  QPushButton* SendAllButton;
  QPushButton* SendSelectedButton;
  QPushButton* StopButton;
  QCheckBox* OnlyMissing;
  QLabel* Summary;
  // What the operator must not miss beside the summary: a list that cannot be read, a ledger or
  // a lock that could not be used.
  QLabel* Notice;
  // Gives the entry dialog's answer for the line edited (none: a new one); tests replace it.
  std::function<std::optional<TScalesLine>(const std::optional<TScalesLine>&)> EditEntry;
  // The local port of the UDP scales; tests choose one that needs no privilege.
  int UdpLocalPort;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct TRow;
  void BuildControls();
  void Save();
  void ShowList();
  void AddEntry();
  void EditSelected();
  void RemoveSelected();
  void Send(const std::vector<size_t>& rows);
  void RoundEnded();
  void ShowRound();
  void ShowRoundOf(size_t row);
  void ShowSummary();
  void EnableButtons();
  std::vector<size_t> SelectedRows() const;
  std::string Digest();
  // The list may be changed and saved: it was read, and no round runs.
  bool Editable() const;
  void AddNotice(const QString& text);

  TLedger& ledger_;
  std::function<TBoardJob()> job_;
  TScalesList list_;
  // Why scales.targets could not be read; while it is set the list is not saved over the file.
  std::string readFailure_;
  // The lines shown, each a scale or a line that names none.
  std::vector<TRow> rows_;
  std::unique_ptr<TScaleRunner> runner_;
  // Which row each target of the round is.
  std::vector<size_t> roundRows_;
  QTimer display_;
};

// "record 412 of 1,250 · about 1:20 left", "sent in 2:09", "up to date", "failed: <reason>",
// "busy: <holder>", "stopped", "opening", "idle".
QString RoundText(const TTargetStatus& status, const TTargetOutcome* outcome, int rows);
// "3 of 5 sent · 1 up to date · 1 failed".
QString RoundSummary(const std::vector<TTargetOutcome>& outcomes);
