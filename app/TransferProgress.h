#pragma once
// The progress of a transfer in the main window's bottom panel: a bar and a line that counts the
// records, the time spent and the time left; after the end the line names the result. What is
// shown follows the transfer at a display rate, after acknowledgements rather than after
// commands, so painting never sits between a command and the reading of its answer.

#include "Transfer.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
struct TTransferRecord;

// "5,000".
QString CountText(int count);
// "0:07", "8:41", "1:02:03"; rounded to the second.
QString DurationText(qint64 ms);
// The line while the command sent in `cursor` waits: "Start command · 0:01 elapsed",
// "Record 1,234 of 5,000 · 2:03 elapsed · about 6:20 left", "End command · 8:40 elapsed".
// The time left is the time per acknowledged record so far times the records still to go.
QString ProgressText(int cursor, int rows, qint64 elapsedMs);

class TTransferProgress : public QWidget {
 public:
  TTransferProgress(TTransfer& engine, const ITransferView& view, QWidget* parent = nullptr);

  // The end of a transfer: "Sent 5,000 records in 8:41" or the failure reason. It stays until the
  // next transfer or Clear.
  void ShowResult(const TTransferRecord& record);
  // A new file: the bar and the line go, unless a transfer runs.
  void Clear();

  // At most this often the bar, the line and the row follow the transfer.
  static constexpr int kDisplayMs = 100;

  QProgressBar* Bar;
  QLabel* Line;
  // Shows the table row whose record went out last.
  std::function<void(int row)> ShowRow;

 private:
  void Begin();
  void CommandSent(int cursor, int row);
  void AnswerRead();
  void Show();
  void ShowPending();
  void Stopped();
  void Refresh();

  const ITransferView& view_;
  QElapsedTimer clock_;
  // Moves the elapsed time on while a command waits.
  QTimer refresh_;
  // Shows what changed since the last showing; started by an acknowledgement, or by a command
  // that waits long for its answer.
  QTimer display_;
  QElapsedTimer lastShown_;
  int cursor_ = 0;
  int rows_ = 0;
  // The row sent since the last showing, or none.
  int rowToShow_ = TTransfer::kNoRow;
  bool pending_ = false;
  bool running_ = false;
};
