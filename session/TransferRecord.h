#pragma once
// What one transfer did, as the transfer history and the command-line report keep it, and the
// recorder that follows an engine to fill it in.

#include <QDateTime>
#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class TTransfer;

// How a transfer ended: sent (every row acknowledged), failed, stopped before its end, current
// (its scale held the file already, so it never started), or never ended (a run that was killed).
enum class TTransferResult { Sent, Failed, Stopped, Current, NeverEnded };

// What made a failed transfer fail; its reason says it in words.
enum class TTransferFailure {
  None,
  NotStarted,   // it never started: the link did not open
  Busy,         // it never started: another sender holds the scale's lock
  EmptyRow,     // its end step ran after a row without text
  GaveUp,       // the engine gave up: the scale fell silent or refused, the link was lost
  Interrupted,  // it was ended from outside while under way: the link closed, the run was interrupted
};

// "sent", "failed", "stopped", "current", "never ended": the text of the history line, the
// ledger's column, the report, --status and the history window.
std::string_view ResultText(TTransferResult result);
// The result a text of ResultText names; none for another text.
std::optional<TTransferResult> ResultFromText(std::string_view text);
// Sent, or current: the scale holds the file.
inline bool Succeeded(TTransferResult result) {
  return result == TTransferResult::Sent || result == TTransferResult::Current;
}

struct TTransferRecord {
  QDateTime Started;
  std::string Program;
  std::string File;
  std::string Link;  // "serial:COM1@9600", "tcp:host:port", "udp:host:port"
  std::string Kind;  // "products", "labels", "users", "statuses"
  int Rows = 0;
  int RecordsSent = 0;  // records the scale acknowledged
  int Resends = 0;      // records sent again after a wrong answer
  int UnexpectedAnswers = 0;  // lines that came while no command waited for its answer
  int IgnoredDatagrams = 0;   // datagrams dropped since they came from another sender than the scale
  TTransferResult Result = TTransferResult::NeverEnded;
  double Seconds = 0;
  std::string Reason;  // why it failed; empty otherwise
  TTransferFailure Failure = TTransferFailure::None;
  // SHA-256 of the commands the transfer sends, as hex; empty where it is not known.
  std::string Digest;
};

// The reason of a transfer that ended on an empty row.
extern const char kTransferFailedText[];

// Follows one engine: every transfer that starts becomes one record, handed on when it ends:
// sent, failed, or stopped when the next start or the recorder's end finds it unfinished.
class TTransferRecorder : public QObject {
  Q_OBJECT

 public:
  // `describe` fills the fields that the engine does not know (program, file, link, kind, rows)
  // when a transfer starts.
  TTransferRecorder(TTransfer& engine, std::function<TTransferRecord()> describe, QObject* parent = nullptr);
  ~TTransferRecorder() override;

  // Ends the transfer under way as failed, e.g. when the program is interrupted.
  void Interrupt(const std::string& reason);
  // A datagram from another sender than the scale was dropped while the transfer ran.
  void CountIgnoredDatagram();
  // The transfer under way, if any.
  const std::optional<TTransferRecord>& Current() const { return current_; }
  // Ends the transfer under way as stopped, as the recorder's end would; an owner whose receivers
  // go before the recorder calls it first.
  void EndUnfinished();

 signals:
  void Recorded(const TTransferRecord& record);

 private:
  void Begin();
  void CommandSent(int row);
  void LineReceived(bool matched);
  void End(TTransferResult result, TTransferFailure failure, const std::string& reason);

  std::function<TTransferRecord()> describe_;
  std::optional<TTransferRecord> current_;
  std::optional<QDateTime> stoppedAt_;
  int lastRow_ = -1;
  bool recordWaiting_ = false;
};
