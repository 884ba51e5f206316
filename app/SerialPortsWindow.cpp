#include "SerialPortsWindow.h"

#include "PortSurvey.h"

#include <QPushButton>
#include <QTableWidget>

namespace {
QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

QString NotesText(const std::vector<std::string>& notes) {
  QStringList lines;
  for (const std::string& note : notes) lines << Text(note);
  return lines.join(QLatin1Char(' '));
}

QStringList Headers() {
  QStringList headers;
  for (const std::string& header : PortTableHeader()) headers << Text(header);
  return headers << QStringLiteral("Note");
}
}  // namespace

TSerialPortsWindow::TSerialPortsWindow(QWidget* parent)
    : TReadOnlyTable(QStringLiteral("Serial ports"), Headers(), QStringLiteral("Refresh"), QSize(1100, 320), parent) {
  setObjectName(QStringLiteral("SerialPorts"));
  Table->setObjectName(QStringLiteral("SerialPortsTable"));
  RefreshButton = Button;
  connect(RefreshButton, &QPushButton::clicked, this, [this] { Reload(); });
  Reload();
}

void TSerialPortsWindow::Reload() {
  std::vector<QStringList> rows;
  for (const TPortTableRow& port : PortTable(SurveyPorts(SystemPortRoots(), CurrentUser()))) {
    QStringList cells;
    for (const std::string& cell : port.Cells) cells << Text(cell);
    rows.push_back(cells << NotesText(port.Notes));
  }
  ShowRows(rows);
}
