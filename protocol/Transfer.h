#pragma once
// The stop-and-wait transfer of the table: start command, one record per row, end command.

#include <QObject>
#include <QTimer>

#include <string>
#include <string_view>

// What the transfer needs from the main window.
class ITransferHost {
 public:
  virtual ~ITransferHost() = default;
  virtual int RowCount() const = 0;
  // The row's cells from column 0 to the table's last column, joined by ";".
  virtual std::string RowText(int row) const = 0;
  // Position of the selected database kind (rgBaza).
  virtual int DatabaseKindPosition() const = 0;
  // Frames the command for the selected link and hands it over.
  virtual void SendOrder(const std::string& command) = 0;
  // bbWyslijBaze's tag: 0 idle ("Send database", Connect enabled), 1 running ("Stop", Connect disabled).
  virtual int SendButtonTag() const = 0;
  virtual void SetSendButtonTag(int tag) = 0;
  virtual void ShowTransferResult(bool failed) = 0;
};

class TTransfer : public QObject {
 public:
  explicit TTransfer(ITransferHost& host, QObject* parent = nullptr);

  void bbWyslijBazeClick();
  void TimerBazaTimer();
  // A completed reply line, blanks and control characters stripped at both ends.
  void LineCompleted(std::string_view line);

  int TransferCursor = 0;
  bool TransferFailed = false;
  QTimer TimerBaza;

 private:
  ITransferHost& host_;
};
