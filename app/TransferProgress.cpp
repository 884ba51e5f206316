#include "TransferProgress.h"

#include "Transfer.h"
#include "TransferRecord.h"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const QString kSeparator = QStringLiteral(" \u00B7 ");
constexpr int kRefreshMs = 1000;

// What the command sent in `cursor` is, in the middle of a sentence.
QString WaitingPhrase(int cursor, int rows) {
  if (cursor == 0) return QStringLiteral("the start command");
  if (cursor >= 1 && cursor <= rows) return QStringLiteral("record %1 of %2").arg(CountText(cursor), CountText(rows));
  return QStringLiteral("the end command");
}

QString Elapsed(qint64 ms) { return DurationText(ms) + QStringLiteral(" elapsed"); }
}  // namespace

QString CountText(int count) { return QLocale(QLocale::English).toString(count); }

QString DurationText(qint64 ms) {
  const qint64 seconds = (std::max<qint64>(ms, 0) + 500) / 1000;
  const qint64 hours = seconds / 3600;
  const QString minutesAndSeconds =
      QStringLiteral("%1:%2").arg(seconds / 60 % 60, hours > 0 ? 2 : 1, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10,
                                                                                                    QLatin1Char('0'));
  return hours > 0 ? QString::number(hours) + QLatin1Char(':') + minutesAndSeconds : minutesAndSeconds;
}

QString ProgressText(int cursor, int rows, qint64 elapsedMs) {
  if (cursor == 0) return QStringLiteral("Start command") + kSeparator + Elapsed(elapsedMs);
  if (cursor < 1 || cursor > rows) return QStringLiteral("End command") + kSeparator + Elapsed(elapsedMs);
  QString text = QStringLiteral("Record %1 of %2").arg(CountText(cursor), CountText(rows)) + kSeparator +
                 Elapsed(elapsedMs);
  const qint64 acknowledged = cursor - 1;
  if (acknowledged > 0)
    text += kSeparator + QStringLiteral("about ") + DurationText(elapsedMs * (rows - acknowledged) / acknowledged) +
            QStringLiteral(" left");
  return text;
}

TTransferProgress::TTransferProgress(TTransfer& engine, const ITransferView& view, QWidget* parent)
    : QWidget(parent), view_(view) {
  setObjectName(QStringLiteral("TransferProgress"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  Bar = new QProgressBar(this);
  Bar->setObjectName(QStringLiteral("ProgressBar"));
  Bar->hide();
  Line = new QLabel(this);
  Line->setObjectName(QStringLiteral("ProgressLine"));
  Line->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // A long reason wraps in a narrow window rather than widening it.
  Line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  Line->setWordWrap(true);
  layout->addWidget(Bar);
  layout->addWidget(Line);
  layout->addStretch(1);

  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(); });
  display_.setSingleShot(true);
  connect(&display_, &QTimer::timeout, this, [this] { Show(); });
  connect(&engine, &TTransfer::Started, this, [this] { Begin(); });
  connect(&engine, &TTransfer::CommandSent, this,
          [this](int cursor, int row, const std::string&) { CommandSent(cursor, row); });
  connect(&engine, &TTransfer::LineReceived, this, [this] { AnswerRead(); });
  connect(&engine, &TTransfer::Stopped, this, [this] { Stopped(); });
  // Connected after the recorder, whose result comes first; this only ends a transfer that the
  // scale's own start acknowledgement set going, which no record follows.
  connect(&engine, &TTransfer::Finished, this, [this](bool failed) {
    if (!running_) return;
    ShowPending();
    running_ = false;
    refresh_.stop();
    Line->setText(failed ? QString::fromLatin1(kTransferFailedText) : QStringLiteral("Database was sent to scale."));
  });
}

// The start shows at once, together with the button that became "Stop".
void TTransferProgress::Begin() {
  clock_.start();
  CommandSent(0, TTransfer::kNoRow);
  Show();
}

// Also after "Stop" while acknowledgements keep carrying the transfer on, and for rows that a
// start acknowledgement set going without "Send database". Only noted here: the answer is due
// now, and the window shows the command once the answer is read or when it keeps waiting.
void TTransferProgress::CommandSent(int cursor, int row) {
  if (!clock_.isValid()) clock_.start();
  running_ = true;
  cursor_ = cursor;
  rows_ = view_.RowCount();
  if (row != TTransfer::kNoRow) rowToShow_ = row;
  pending_ = true;
  if (!display_.isActive()) display_.start(kDisplayMs);
}

// The next tick is armed by now; the showing follows from the event loop, at most every kDisplayMs.
void TTransferProgress::AnswerRead() {
  if (!pending_) return;
  const qint64 sinceShown = lastShown_.isValid() ? lastShown_.elapsed() : kDisplayMs;
  display_.start(static_cast<int>(std::max<qint64>(kDisplayMs - sinceShown, 0)));
}

void TTransferProgress::Show() {
  display_.stop();
  pending_ = false;
  lastShown_.start();
  Bar->setRange(0, std::max(rows_, 1));
  Bar->setValue(cursor_ >= 1 && cursor_ <= rows_ ? cursor_ - 1 : cursor_ == 0 ? 0 : rows_);
  Bar->show();
  if (rowToShow_ != TTransfer::kNoRow && ShowRow) ShowRow(rowToShow_);
  rowToShow_ = TTransfer::kNoRow;
  refresh_.start();
  Refresh();
}

// The end of a transfer shows the bar and the row as they stand before its own line.
void TTransferProgress::ShowPending() {
  if (pending_) Show();
}

void TTransferProgress::Refresh() { Line->setText(ProgressText(cursor_, rows_, clock_.elapsed())); }

void TTransferProgress::Stopped() {
  ShowPending();
  running_ = false;
  refresh_.stop();
  Line->setText(QStringLiteral("Stopped at ") + WaitingPhrase(cursor_, rows_) + kSeparator + Elapsed(clock_.elapsed()));
}

void TTransferProgress::ShowResult(const TTransferRecord& record) {
  if (record.Result != TTransferResult::Sent && record.Result != TTransferResult::Failed) return;
  ShowPending();
  running_ = false;
  refresh_.stop();
  if (record.Result == TTransferResult::Sent) {
    Bar->setValue(Bar->maximum());
    Line->setText(QStringLiteral("Sent %1 %2 in %3")
                      .arg(CountText(record.RecordsSent),
                           record.RecordsSent == 1 ? QStringLiteral("record") : QStringLiteral("records"),
                           DurationText(qRound64(record.Seconds * 1000))));
  } else {
    Line->setText(QString::fromStdString(record.Reason));
  }
}

void TTransferProgress::Clear() {
  if (running_) return;
  Bar->hide();
  Line->clear();
}
