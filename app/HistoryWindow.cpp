#include "HistoryWindow.h"

#include "History.h"
#include "TransferProgress.h"

#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

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
    : QDialog(parent), OpenUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }), source_(std::move(source)) {
  setObjectName(QStringLiteral("TransferHistory"));
  setWindowTitle(QStringLiteral("Transfer history"));
  // Wide enough for a long reason, yet never wider than the screen: Close stays in reach.
  const QSize wanted(1100, 420);
  const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  resize(screen ? wanted.boundedTo(screen->availableGeometry().size() * 0.9) : wanted);

  Table = new QTableWidget(this);
  Table->setObjectName(QStringLiteral("HistoryTable"));
  const QStringList headers{"Time", "File", "Link", "Kind", "Rows", "Result", "Duration", "Reason"};
  Table->setColumnCount(static_cast<int>(headers.size()));
  Table->setHorizontalHeaderLabels(headers);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->verticalHeader()->hide();
  // One line per transfer; a column as wide as its longest text, the table scrolls sideways.
  Table->setWordWrap(false);

  OpenFolderButton = new QPushButton(QStringLiteral("Open folder"), this);
  connect(OpenFolderButton, &QPushButton::clicked, this, [this] { OpenFolder(); });
  auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(OpenFolderButton);
  buttons->addStretch(1);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Table);
  layout->addLayout(buttons);
  Reload();
}

void TTransferHistoryWindow::Reload() {
  const std::vector<TTransferRecord> records = source_(kShownTransfers);
  Table->setRowCount(static_cast<int>(records.size()));
  for (int row = 0; row < Table->rowCount(); ++row) {
    const QStringList cells = Cells(records[static_cast<size_t>(row)]);
    for (int column = 0; column < cells.size(); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(cells[column]);
      Table->setItem(row, column, item);
    }
  }
  Table->resizeColumnsToContents();
}

// The folder exists before the first transfer is written, so the file manager has somewhere to go.
void TTransferHistoryWindow::OpenFolder() {
  const QString folder = QString::fromLocal8Bit(StateDirectory());
  QDir().mkpath(folder);
  OpenUrl(QUrl::fromLocalFile(folder));
}
