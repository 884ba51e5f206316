#include "ScalesBoard.h"

#include "ContentDigest.h"
#include "EthConnection.h"
#include "FileSave.h"
#include "Global.h"
#include "History.h"
#include "Ledger.h"
#include "MessageBox.h"
#include "ScaleKey.h"
#include "SettingsLocation.h"
#include "TransferProgress.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <map>

namespace {
const char kScalesFile[] = "scales.targets";
const char kSeparator[] = " \u00B7 ";
const char* const kRates[] = {"4800", "9600", "19200", "38400", "57600", "115200"};
// A shop's list of scales is a few kilobytes; anything this large is not one.
constexpr qint64 kMaxListBytes = 1 << 20;

QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

QString OutcomeText(const TTargetOutcome& outcome) {
  const TTransferRecord& record = outcome.Record;
  if (record.Result == TTransferResult::Current) return QStringLiteral("up to date");
  if (record.Result == TTransferResult::Sent)
    return QStringLiteral("sent in ") + DurationText(static_cast<qint64>(record.Seconds * 1000));
  if (record.Result == TTransferResult::Stopped) return QStringLiteral("stopped");
  if (record.Reason.starts_with("busy: ")) return Text(record.Reason);
  return QStringLiteral("failed: ") + Text(record.Reason);
}

QString SendingText(const TTargetStatus& status, int rows) {
  const int acknowledged = std::min(status.Acknowledged, rows);
  QString text = QStringLiteral("record %1 of %2").arg(CountText(std::min(acknowledged + 1, rows)), CountText(rows));
  if (acknowledged > 0 && acknowledged < rows)
    text += QString::fromUtf8(kSeparator) + QStringLiteral("about ") +
            DurationText(static_cast<qint64>(status.Seconds * 1000 * (rows - acknowledged) / acknowledged)) +
            QStringLiteral(" left");
  return text;
}

std::string Local(const QString& text) { return text.trimmed().toLocal8Bit().toStdString(); }

struct TListRead {
  QByteArray Bytes;
  std::string Failure;  // why a file that is there cannot be read; empty when it was read
};

// No file is an empty list; a file that is there but cannot be read is no list at all.
TListRead ReadList(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return {};
  if (!info.isFile()) return {{}, "it is not a regular file"};
  if (info.size() > kMaxListBytes) return {{}, "it is larger than 1 MiB"};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {{}, Local(file.errorString())};
  TListRead read{file.readAll(), {}};
  if (file.error() != QFileDevice::NoError) return {{}, Local(file.errorString())};
  return read;
}

QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setToolTip(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}
}  // namespace

QString RoundText(const TTargetStatus& status, const TTargetOutcome* outcome, int rows) {
  if (outcome) return OutcomeText(*outcome);
  if (status.Phase == TTargetStatus::TPhase::Connecting) return QStringLiteral("opening");
  return SendingText(status, rows);
}

QString RoundSummary(const std::vector<TTargetOutcome>& outcomes) {
  std::map<TTransferResult, int> counts;
  for (const TTargetOutcome& outcome : outcomes) ++counts[outcome.Record.Result];
  QString text = QStringLiteral("%1 of %2 sent").arg(counts[TTransferResult::Sent]).arg(outcomes.size());
  const std::pair<TTransferResult, const char*> parts[] = {
      {TTransferResult::Current, "up to date"}, {TTransferResult::Failed, "failed"}, {TTransferResult::Stopped, "stopped"}};
  for (const auto& [result, words] : parts)
    if (counts[result] > 0) text += QString::fromUtf8(kSeparator) + QString::number(counts[result]) + ' ' + words;
  return text;
}

TScaleEntryDialog::TScaleEntryDialog(const std::optional<TScalesLine>& current, QWidget* parent) : QDialog(parent) {
  setWindowTitle(current ? QStringLiteral("Edit scale") : QStringLiteral("Add scale"));
  Name = new QLineEdit(this);
  Kind = new QComboBox(this);
  Kind->addItems({QStringLiteral("serial"), QStringLiteral("TCP"), QStringLiteral("UDP")});
  Host = new QLineEdit(this);
  Port = new QSpinBox(this);
  Port->setRange(1, 65535);
  Port->setValue(4001);
  SerialPort = new QLineEdit(QStringLiteral("COM1"), this);
  Rate = new QComboBox(this);
  for (const char* rate : kRates) Rate->addItem(QString::fromLatin1(rate));
  Rate->setCurrentText(QStringLiteral("9600"));
  Error = new QLabel(this);
  Error->setWordWrap(true);
  Error->hide();
  if (current && current->Target) {
    ShowLink(*current->Target);
  } else if (current) {
    ShowLink(DraftOfLine(current->Text));
    Error->setText(Text("This line cannot be read: " + current->Error + "."));
    Error->show();
  }
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Name"), Name);
  form->addRow(QStringLiteral("Link"), Kind);
  form->addRow(QStringLiteral("Host"), Host);
  form->addRow(QStringLiteral("Port"), Port);
  form->addRow(QStringLiteral("Serial port"), SerialPort);
  form->addRow(QStringLiteral("Rate"), Rate);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(Error);
  layout->addWidget(buttons);
  connect(Kind, &QComboBox::currentIndexChanged, this, [this] { ShowKind(); });
  ShowKind();
}

void TScaleEntryDialog::ShowLink(const TTarget& target) {
  Name->setText(Text(target.Name == target.Text ? "" : target.Name));
  const TLinkSettings& link = target.Link;
  Kind->setCurrentIndex(static_cast<int>(link.Kind));
  Host->setText(Text(link.Host));
  if (link.Port > 0) Port->setValue(link.Port);
  if (link.Kind == TLinkSettings::TKind::Serial) {
    SerialPort->setText(Text(link.SerialPort));
    if (link.BaudRate > 0) Rate->setCurrentText(QString::number(link.BaudRate));
  }
}

void TScaleEntryDialog::ShowKind() {
  const bool serial = Kind->currentIndex() == 0;
  Host->setEnabled(!serial);
  Port->setEnabled(!serial);
  SerialPort->setEnabled(serial);
  Rate->setEnabled(serial);
}

TScalesLine TScaleEntryDialog::Line() const {
  TLinkSettings link;
  link.Kind = static_cast<TLinkSettings::TKind>(Kind->currentIndex());
  if (link.Kind == TLinkSettings::TKind::Serial) {
    link.SerialPort = Local(SerialPort->text());
    link.BaudRate = Rate->currentText().toInt();
  } else {
    link.Host = Local(Host->text());
    link.Port = Port->value();
  }
  return ScalesLineOf(Local(Name->text()), link);
}

std::string TScaleEntryDialog::Problem() const {
  if (const std::string error = ScaleNameError(Local(Name->text())); !error.empty()) return error;
  return Line().Error;
}

void TScaleEntryDialog::accept() {
  const std::string problem = Problem();
  if (problem.empty()) {
    QDialog::accept();
    return;
  }
  QString text = Text(problem) + QLatin1Char('.');
  text[0] = text[0].toUpper();
  Error->setText(text);
  Error->show();
}

struct TScalesBoard::TRow {
  size_t Line;  // in list_.Lines
};

TScalesBoard::TScalesBoard(TLedger& ledger, std::function<TBoardJob()> job, QWidget* parent)
    : QWidget(parent, Qt::Window), UdpLocalPort(CEthConnection::kUdpLocalPort), ledger_(ledger), job_(std::move(job)) {
  setObjectName(QStringLiteral("Scales"));
  setWindowTitle(QStringLiteral("Scales"));
  EditEntry = [this](const std::optional<TScalesLine>& current) -> std::optional<TScalesLine> {
    TScaleEntryDialog dialog(current, this);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Line();
  };
  BuildControls();
  display_.setInterval(TTransferProgress::kDisplayMs);
  connect(&display_, &QTimer::timeout, this, [this] { ShowRound(); });
  Load();
}

TScalesBoard::~TScalesBoard() = default;

void TScalesBoard::BuildControls() {
  Table = new QTableWidget(0, kColumns, this);
  Table->setHorizontalHeaderLabels(
      {QStringLiteral("Name"), QStringLiteral("Link"), QStringLiteral("Holds"), QStringLiteral("Last success"),
       QStringLiteral("This round")});
  Table->verticalHeader()->hide();
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->horizontalHeader()->setStretchLastSection(true);
  Table->setWordWrap(false);
  AddButton = new QPushButton(QStringLiteral("Add"), this);
  EditButton = new QPushButton(QStringLiteral("Edit"), this);
  RemoveButton = new QPushButton(QStringLiteral("Remove"), this);
  SendAllButton = new QPushButton(QStringLiteral("Send to all"), this);
  SendSelectedButton = new QPushButton(QStringLiteral("Send to selected"), this);
  StopButton = new QPushButton(QStringLiteral("Stop"), this);
  OnlyMissing = new QCheckBox(QStringLiteral("Only scales that do not hold this file"), this);
  OnlyMissing->setChecked(true);
  Summary = new QLabel(this);
  Notice = new QLabel(this);
  Notice->setWordWrap(true);
  Notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
  connect(AddButton, &QPushButton::clicked, this, [this] { AddEntry(); });
  connect(EditButton, &QPushButton::clicked, this, [this] { EditSelected(); });
  connect(RemoveButton, &QPushButton::clicked, this, [this] { RemoveSelected(); });
  connect(SendAllButton, &QPushButton::clicked, this, [this] { SendToAll(); });
  connect(SendSelectedButton, &QPushButton::clicked, this, [this] { SendToSelected(); });
  connect(StopButton, &QPushButton::clicked, this, [this] { StopAll(); });
  connect(Table, &QTableWidget::itemSelectionChanged, this, [this] { EnableButtons(); });
  auto* sendAll = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this);
  connect(sendAll, &QShortcut::activated, this, [this] { SendToAll(); });

  auto* entries = new QHBoxLayout;
  for (QPushButton* button : {AddButton, EditButton, RemoveButton}) entries->addWidget(button);
  entries->addStretch(1);
  entries->addWidget(OnlyMissing);
  auto* sending = new QHBoxLayout;
  sending->addWidget(Summary, 1);
  for (QPushButton* button : {SendAllButton, SendSelectedButton, StopButton}) sending->addWidget(button);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(entries);
  layout->addWidget(Table, 1);
  layout->addWidget(Notice);
  layout->addLayout(sending);
  resize(820, 360);
}

void TScalesBoard::Load() {
  const std::string path = SettingsFile(kScalesFile);
  const TListRead read = ReadList(QString::fromLocal8Bit(path.c_str()));
  readFailure_ = read.Failure;
  list_ = ParseScalesList(std::string_view(read.Bytes.constData(), static_cast<size_t>(read.Bytes.size())));
  ShowList();
  if (!readFailure_.empty())
    AddNotice(Text("The list of scales " + path + " cannot be read: " + readFailure_ +
                   ". Scales cannot be added, edited or removed until it can be; File \u2192 Scales reads it again."));
}

void TScalesBoard::Refresh() {
  if (readFailure_.empty()) RefreshHolds();
  else Load();
}

// The list is written whole to a temporary file and renamed, as every settings file is.
void TScalesBoard::Save() {
  const std::string path = SettingsFileForSaving(kScalesFile);
  if (const int error = SaveWholeFile(path, ScalesListText(list_)); error != 0)
    ShowMessageBox(Text("The list of scales could not be saved to " + path + ": " + std::strerror(error) + "."),
                   QStringLiteral("Scales"), TMessageIcon::Exclamation);
}

void TScalesBoard::ShowList() {
  rows_.clear();
  for (size_t line = 0; line < list_.Lines.size(); ++line)
    if (list_.Lines[line].Target || !list_.Lines[line].Error.empty()) rows_.push_back({line});
  runner_.reset();
  roundRows_.clear();
  Table->setRowCount(static_cast<int>(rows_.size()));
  for (size_t row = 0; row < rows_.size(); ++row) {
    const TScalesLine& line = list_.Lines[rows_[row].Line];
    const int r = static_cast<int>(row);
    Table->removeCellWidget(r, kRound);
    if (line.Target) {
      Table->setItem(r, kName, Cell(Text(line.Target->Name)));
      Table->setItem(r, kLink, Cell(Text(line.Target->Text)));
      Table->setItem(r, kRound, Cell(QStringLiteral("idle")));
    } else {
      // Kept as it stands: the operator sees what is wrong with it, and the file keeps it.
      Table->setItem(r, kName, Cell(Text(line.Text)));
      Table->setItem(r, kLink, Cell(Text("cannot be read: " + line.Error)));
      Table->setItem(r, kRound, Cell(QString()));
      for (int column : {kName, kLink}) Table->item(r, column)->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
    }
  }
  RefreshHolds();
  Table->resizeColumnsToContents();
  Summary->clear();
  Notice->clear();
  EnableButtons();
}

std::string TScalesBoard::Digest() {
  const TBoardJob job = job_();
  if (!job.Table) return {};
  return ContentDigest(*job.Table, job.KindPosition, job.RowEncoder);
}

void TScalesBoard::RefreshHolds() {
  const std::string digest = Digest();
  for (size_t row = 0; row < rows_.size(); ++row) {
    const TScalesLine& line = list_.Lines[rows_[row].Line];
    if (!line.Target) {
      Table->setItem(static_cast<int>(row), kHolds, Cell(QString()));
      Table->setItem(static_cast<int>(row), kLastSuccess, Cell(QString()));
      continue;
    }
    const std::optional<TScaleState> state = ledger_.State(ScaleKeyOf(line.Target->Link));
    const TScaleState shown = state.value_or(TScaleState{});
    // Without a table open there is nothing a scale could hold or lack.
    Table->setItem(static_cast<int>(row), kHolds, Cell(digest.empty() ? QString() : Text(HoldsText(shown, digest))));
    Table->setItem(static_cast<int>(row), kLastSuccess,
                   Cell(shown.LastSuccess ? shown.LastSuccess->toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString()));
  }
  // A success or a load that broke off widens these after the list was laid out.
  for (int column : {kHolds, kLastSuccess}) Table->resizeColumnToContents(column);
}

bool TScalesBoard::Sending() const { return runner_ && runner_->Running(); }

bool TScalesBoard::HoldsUdpPort() const { return runner_ && runner_->HoldsUdpPort(); }

bool TScalesBoard::Editable() const { return !Sending() && readFailure_.empty(); }

void TScalesBoard::EnableButtons() {
  const bool sending = Sending();
  const bool selected = !SelectedRows().empty();
  AddButton->setEnabled(Editable());
  EditButton->setEnabled(Editable() && Table->currentRow() >= 0 && Table->selectionModel()->hasSelection());
  RemoveButton->setEnabled(Editable() && Table->selectionModel()->hasSelection());
  SendAllButton->setEnabled(!sending);
  SendSelectedButton->setEnabled(!sending && selected);
  StopButton->setEnabled(sending);
}

std::vector<size_t> TScalesBoard::SelectedRows() const {
  std::vector<size_t> rows;
  for (const QModelIndex& index : Table->selectionModel()->selectedRows()) rows.push_back(static_cast<size_t>(index.row()));
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TScalesBoard::AddEntry() {
  if (!Editable()) return;
  const std::optional<TScalesLine> line = EditEntry(std::nullopt);
  if (!line) return;
  list_.Lines.push_back(*line);
  Save();
  ShowList();
}

void TScalesBoard::EditSelected() {
  const int row = Table->currentRow();
  if (!Editable() || row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
  TScalesLine& current = list_.Lines[rows_[static_cast<size_t>(row)].Line];
  const std::optional<TScalesLine> line = EditEntry(current);
  if (!line) return;
  current = *line;
  Save();
  ShowList();
}

void TScalesBoard::RemoveSelected() {
  if (!Editable()) return;
  const std::vector<size_t> rows = SelectedRows();
  for (auto row = rows.rbegin(); row != rows.rend(); ++row)
    list_.Lines.erase(list_.Lines.begin() + static_cast<std::ptrdiff_t>(rows_[*row].Line));
  Save();
  ShowList();
}

void TScalesBoard::SendToAll() {
  std::vector<size_t> rows(rows_.size());
  for (size_t row = 0; row < rows.size(); ++row) rows[row] = row;
  Send(rows);
}

void TScalesBoard::SendToSelected() { Send(SelectedRows()); }

void TScalesBoard::Send(const std::vector<size_t>& rows) {
  if (Sending()) return;
  const TBoardJob job = job_();
  if (!job.Table) {
    ShowMessageBox(QStringLiteral("Open a database file first: the scales get the table of the main window."),
                   QStringLiteral("Scales"), TMessageIcon::Information);
    return;
  }
  if (!job.Refusal.empty()) {
    ShowMessageBox(Text(job.Refusal) + QLatin1Char('\n') + QString::fromLatin1(kTransferFailedText), QStringLiteral("Failure"),
                   TMessageIcon::Information);
    return;
  }
  std::vector<TTarget> targets;
  std::vector<size_t> roundRows;
  for (const size_t row : rows) {
    const TScalesLine& line = list_.Lines[rows_[row].Line];
    if (!line.Target) continue;
    targets.push_back(*line.Target);
    roundRows.push_back(row);
  }
  if (targets.empty()) return;
  if (const std::string clash = ResolveScaleKeys(targets); !clash.empty()) {
    ShowMessageBox(Text(clash + "; nothing was sent."), QStringLiteral("Scales"), TMessageIcon::Information);
    return;
  }
  TRunSettings settings;
  settings.File = job.File;
  settings.Kind = job.Kind;
  settings.KindPosition = job.KindPosition;
  settings.PaceMs = job.PaceMs;
  settings.AnswerTimeoutMs = job.AnswerTimeoutMs;
  settings.Retries = job.Retries;
  settings.RowEncoder = job.RowEncoder;
  settings.SerialSettingsFile = SettingsFile(kSerialSettingsFileName);
  settings.Program = "scaledb";
  settings.Digest = ContentDigest(*job.Table, job.KindPosition, job.RowEncoder);
  settings.Ledger = &ledger_;
  settings.OnlyChanged = OnlyMissing->isChecked();
  settings.HistoryPath = HistoryPath();
  settings.UdpLocalPort = UdpLocalPort;
  if (job.WindowHoldsUdpPort)
    settings.UdpRefusal = "the main window's connection holds UDP port " + std::to_string(UdpLocalPort) +
                          ": press \"Disconnect\" there, then send again";

  for (size_t row = 0; row < rows_.size(); ++row) {
    Table->removeCellWidget(static_cast<int>(row), kRound);
    Table->setItem(static_cast<int>(row), kRound, Cell(list_.Lines[rows_[row].Line].Target ? QStringLiteral("idle") : QString()));
  }
  roundRows_ = std::move(roundRows);
  runner_ = std::make_unique<TScaleRunner>(targets, job.Table, settings);
  connect(runner_.get(), &TScaleRunner::TargetEnded, this, [this](size_t target) { ShowRoundOf(target); });
  connect(runner_.get(), &TScaleRunner::AllEnded, this, [this] { RoundEnded(); });
  connect(runner_.get(), &TScaleRunner::Notice, this, [this](const std::string& text) { AddNotice(Text(text)); });
  Summary->clear();
  Notice->clear();
  display_.start();
  runner_->Start();
  ShowRound();
  EnableButtons();
}

void TScalesBoard::ShowRound() {
  for (size_t target = 0; runner_ && target < roundRows_.size(); ++target) ShowRoundOf(target);
}

void TScalesBoard::ShowRoundOf(size_t target) {
  const int row = static_cast<int>(roundRows_[target]);
  const TTargetStatus status = runner_->Status(target);
  const bool ended = status.Phase == TTargetStatus::TPhase::Ended;
  const TTargetOutcome* outcome = ended ? &runner_->Outcome(target) : nullptr;
  const int rows = runner_->Rows();
  const QString text = RoundText(status, outcome, rows);
  if (status.Phase == TTargetStatus::TPhase::Sending) {
    auto* bar = qobject_cast<QProgressBar*>(Table->cellWidget(row, kRound));
    if (!bar) {
      bar = new QProgressBar;
      Table->setCellWidget(row, kRound, bar);
    }
    bar->setRange(0, std::max(rows, 1));
    bar->setValue(std::min(status.Acknowledged, rows));
    bar->setFormat(text);
    return;
  }
  Table->removeCellWidget(row, kRound);
  Table->setItem(row, kRound, Cell(text));
}

void TScalesBoard::RoundEnded() {
  display_.stop();
  ShowRound();
  std::vector<TTargetOutcome> outcomes;
  for (size_t target = 0; target < roundRows_.size(); ++target) outcomes.push_back(runner_->Outcome(target));
  Summary->setText(RoundSummary(outcomes));
  RefreshHolds();
  EnableButtons();
}

// Each notice once, the round's summary beside them.
void TScalesBoard::AddNotice(const QString& text) {
  QStringList lines = Notice->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  if (lines.contains(text)) return;
  lines.append(text);
  Notice->setText(lines.join(QLatin1Char('\n')));
}

void TScalesBoard::StopAll() {
  if (Sending()) runner_->Stop();
}

void TScalesBoard::closeEvent(QCloseEvent* event) {
  if (Sending()) {
    if (!AskYesNo(QStringLiteral("Transfers to the scales are under way. Stop them?"), QStringLiteral("Scales"))) {
      event->ignore();
      return;
    }
    StopAll();
  }
  event->accept();
}
