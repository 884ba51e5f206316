#pragma once
// The stop-and-wait transfer of the table: start command, one record per row, end command.

#include <QObject>
#include <QTimer>

#include <optional>
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

// "SbP", "SbU", "SbS" by database-kind position; none for a position without a kind.
std::optional<std::string> StartCommand(int position);
// The acknowledgement due while the transfer is in the state `cursor`; none at the start when
// the position names no database kind.
std::optional<std::string> ExpectedReply(int cursor, int position);

class TTransfer : public QObject {
 public:
  static constexpr int kTickMs = 100;

  explicit TTransfer(ITransferHost& host, QObject* parent = nullptr);

  void bbWyslijBazeClick();
  void TimerBazaTimer();
  // A completed reply line, blanks and control characters stripped at both ends: advances the
  // cursor on the acknowledgement due and arms the timer whether or not it matched.
  void LineCompleted(std::string_view line);

  // 0 start sent, 1..N row due, N + 1 last row acknowledged, -1 end sent, -2 end acknowledged.
  int TransferCursor = 0;
  bool TransferFailed = false;
  QTimer TimerBaza;

 private:
  void StartTransfer();
  void SendRow(int cursor);
  void SendEnd();
  void ArmTimer();

  ITransferHost& host_;
};
