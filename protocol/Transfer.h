#pragma once
// The stop-and-wait transfer of the table: start command, one record per row, end command, and
// the assembly of received text into the lines that pace it. One instance per scale.

#include "PaceTimer.h"

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What a transfer reads and shows: the table and the selected database kind, read anew at every
// tick and every completed line, and whether the transfer is stoppable.
class ITransferView {
 public:
  virtual ~ITransferView() = default;
  virtual int RowCount() const = 0;
  // The row's cells from column 0 to the table's last column, joined by ";".
  virtual std::string RowText(int row) const = 0;
  // Position of the selected database kind (rgBaza).
  virtual int DatabaseKindPosition() const = 0;
  // TTransfer::Stoppable() changed; the window's "Send database" reads "Stop" while it holds.
  virtual void ShowStoppable(bool stoppable) = 0;
};

// A view plus the link that the commands go out on.
class ITransferHost : public ITransferView {
 public:
  // Frames the command for the link and hands it over.
  virtual void SendOrder(const std::string& command) = 0;
};

// "SbP", "SbU", "SbS" by database-kind position; none for a position without a kind.
std::optional<std::string> StartCommand(int position);
// The acknowledgement due while the transfer is in the state `cursor`; none at the start when
// the position names no database kind.
std::optional<std::string> ExpectedReply(int cursor, int position);

// The answer as a failure message quotes it: bytes outside printable ASCII as \xNN, at most
// 40 characters, then "…".
std::string QuotedAnswer(std::string_view answer);

// Past this many bytes without a line feed the oldest are dropped, so a peer that never ends
// its line cannot grow the buffer without end.
constexpr size_t kReplyBufferCap = 64 * 1024;

class TTransfer : public QObject {
  Q_OBJECT

 public:
  // The scale's own rhythm: the gap between an acknowledgement and the next command.
  static constexpr int kTickMs = 100;
  static constexpr int kMinimumPaceMs = 1;
  // The row of a command that carries no row (start and end).
  static constexpr int kNoRow = -1;
  // Wrong answers never end a transfer.
  static constexpr int kUnlimitedRetries = -1;

  explicit TTransfer(ITransferHost& host, QObject* parent = nullptr);

  // Starts a transfer from its start command; one under way starts over.
  void Start();
  // Ends what Stoppable() holds: the limits are off, the button is back, and acknowledgements
  // that keep coming still carry the transfer to its end. Nothing when nothing is stoppable.
  void Stop();
  // The pace timer's tick: the next command goes out, or the end step runs.
  void PaceTick();
  // Ends a transfer under way as failed, as the answer watchdog does (the link to the scale is
  // gone); nothing when no transfer runs.
  void GiveUp(const std::string& reason);
  // The single entry for received text; `length` is not used, the text carries its own.
  void HandleReply(const std::string& text, int length);
  // A completed reply line, blanks and control characters stripped at both ends: advances the
  // cursor on the acknowledgement due and arms the timer whether or not it matched. A line that
  // arrives while no command waits for its answer is unexpected and moves nothing.
  void LineCompleted(std::string_view line);

  int PaceMs() const { return PaceTimer.interval(); }
  // Never below kMinimumPaceMs.
  void SetPaceMs(int paceMs);
  // A running transfer whose waiting command sees no line for this long ends as failed; 0 waits
  // for ever. Off after Stop.
  void SetAnswerTimeoutMs(int timeoutMs) { answerTimeoutMs_ = std::max(timeoutMs, 0); }
  int AnswerTimeoutMs() const { return answerTimeoutMs_; }
  // A running transfer whose waiting command got this many wrong answers and one more ends as
  // failed (a record is sent again after each but the last); 0 fails at the first wrong answer,
  // kUnlimitedRetries allows any number.
  void SetRecordRetries(int retries) { recordRetries_ = std::max(retries, kUnlimitedRetries); }
  int RecordRetries() const { return recordRetries_; }
  // "start command", "record 17 of 120" or "end command": what waits for its answer, or goes
  // out next once the last record is acknowledged.
  std::string WaitingCommand() const;
  // A record waits for its answer, or goes out next: WaitingCommand names a record.
  bool WaitingForRecord() const;
  // From Start until the transfer was sent, failed or gave up; Stop does not end it, since
  // acknowledgements that keep coming still carry it on.
  bool Running() const { return running_; }
  // From Start until Stop, the end or a failure: the limits hold, and the window's button reads
  // "Stop".
  bool Stoppable() const { return limitsOn_; }

  // 0 start sent, 1..N row due, N + 1 last row acknowledged, -1 end sent, -2 end acknowledged.
  int TransferCursor = 0;
  bool TransferFailed = false;
  TPaceTimer PaceTimer;
  // Received text since the last completed line; never holds a line feed between calls.
  std::string ReplyBuffer;

 signals:
  // A transfer started (before its start command goes out).
  void Started();
  // Stop ended what was stoppable; acknowledgements that keep coming still carry it on.
  void Stopped();
  // A command was handed to the link: the cursor it was sent in and the table row it came from
  // (kNoRow for the start and end commands).
  void CommandSent(int cursor, int row, const std::string& command);
  // A completed line, stripped, and whether it was the acknowledgement due.
  void LineReceived(const std::string& line, bool matched);
  // A line of a running transfer that came while no command waited for its answer (a repeated
  // or early acknowledgement); it also arrives as LineReceived, unmatched.
  void UnexpectedAnswer(const std::string& line);
  // The end step ran: the transfer was sent, or failed on an empty row.
  void Finished(bool failed);
  // The transfer gave up: the scale fell silent or kept refusing. It sends nothing more.
  void Abandoned(const std::string& reason);

 private:
  void StartTransfer();
  void Send(int cursor, int row, const std::string& command);
  void SendRow(int cursor);
  void SendEnd();
  void ArmTimer();
  void DropOldestPastCap();
  void WatchAnswer();
  void CountWrongAnswer(std::string_view line);
  void Abandon(const std::string& reason);
  void Finish();
  void CountAcknowledged();

  ITransferHost& host_;
  int answerTimeoutMs_ = 0;
  int recordRetries_ = kUnlimitedRetries;
  QTimer answerTimer_;
  // The limits hold from Start to the end, a failure or Stop.
  bool limitsOn_ = false;
  bool waitingForAnswer_ = false;
  int wrongAnswers_ = 0;
  // A transfer that gave up ignores ticks and lines until the next start.
  bool abandoned_ = false;
  bool running_ = false;
  // Records acknowledged in this transfer: "sent" needs every row once.
  int acknowledgedRows_ = 0;
};
