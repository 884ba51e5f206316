#include "HistoryWindow.h"

#include "History.h"
#include "TransferProgress.h"

#include <QDesktopServices>
#include <QDir>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>

namespace {
QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

QStringList Cells(const TTransferRecord& record) {
  return {record.Started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
          Text(record.File),
          Text(record.Link),
          Text(record.Kind),
          CountText(record.Rows),
          Text(std::string(ResultText(record.Result))),
          DurationText(qRound64(record.Seconds * 1000)),
          Text(record.Reason)};
}
}  // namespace

TTransferHistoryWindow::TTransferHistoryWindow(TSource source, QWidget* parent)
    : TReadOnlyTable(QStringLiteral("Transfer history"),
                     {"Time", "File", "Link", "Kind", "Rows", "Result", "Duration", "Reason"}, QStringLiteral("Open folder"),
                     QSize(1100, 420), parent),
      OpenUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      source_(std::move(source)) {
  setObjectName(QStringLiteral("TransferHistory"));
  Table->setObjectName(QStringLiteral("HistoryTable"));
  OpenFolderButton = Button;
  connect(OpenFolderButton, &QPushButton::clicked, this, [this] { OpenFolder(); });
  Reload();
}

void TTransferHistoryWindow::Reload() {
  std::vector<QStringList> rows;
  for (const TTransferRecord& record : source_(kShownTransfers)) rows.push_back(Cells(record));
  ShowRows(rows);
}

// The folder exists before the first transfer is written, so the file manager has somewhere to go.
void TTransferHistoryWindow::OpenFolder() {
  const QString folder = QString::fromLocal8Bit(StateDirectory());
  QDir().mkpath(folder);
  OpenUrl(QUrl::fromLocalFile(folder));
}
