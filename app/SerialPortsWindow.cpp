#include "SerialPortsWindow.h"

#include "PortSurvey.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

QString NotesText(const std::vector<std::string>& notes) {
  QStringList lines;
  for (const std::string& note : notes) lines << Text(note);
  return lines.join(QLatin1Char(' '));
}
}  // namespace

TSerialPortsWindow::TSerialPortsWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SerialPorts"));
  setWindowTitle(QStringLiteral("Serial ports"));
  const QSize wanted(1100, 320);
  const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  resize(screen ? wanted.boundedTo(screen->availableGeometry().size() * 0.9) : wanted);

  Table = new QTableWidget(this);
  Table->setObjectName(QStringLiteral("SerialPortsTable"));
  QStringList headers;
  for (const std::string& header : PortTableHeader()) headers << Text(header);
  headers << QStringLiteral("Note");
  Table->setColumnCount(static_cast<int>(headers.size()));
  Table->setHorizontalHeaderLabels(headers);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->verticalHeader()->hide();
  Table->setWordWrap(false);

  RefreshButton = new QPushButton(QStringLiteral("Refresh"), this);
  connect(RefreshButton, &QPushButton::clicked, this, [this] { Reload(); });
  auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(RefreshButton);
  buttons->addStretch(1);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Table);
  layout->addLayout(buttons);
  Reload();
}

void TSerialPortsWindow::Reload() {
  const std::vector<TPortTableRow> rows = PortTable(SurveyPorts(SystemPortRoots(), CurrentUser()));
  Table->setRowCount(static_cast<int>(rows.size()));
  for (int row = 0; row < Table->rowCount(); ++row) {
    const TPortTableRow& port = rows[static_cast<size_t>(row)];
    QStringList cells;
    for (const std::string& cell : port.Cells) cells << Text(cell);
    cells << NotesText(port.Notes);
    for (int column = 0; column < cells.size(); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(cells[column]);
      Table->setItem(row, column, item);
    }
  }
  Table->resizeColumnsToContents();
}
