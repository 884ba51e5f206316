#include "okno.h"

#include "ConnectionUnit.h"
#include "ContentDigest.h"
#include "ErrorHandler.h"
#include "Global.h"
#include "History.h"
#include "HistoryWindow.h"
#include "MessageBox.h"
#include "PortNames.h"
#include "RadioGroup.h"
#include "ScalesBoard.h"
#include "ScaleCommands.h"
#include "ScaleKey.h"
#include "SerialLink.h"
#include "SerialPortsWindow.h"
#include "SettingsLocation.h"
#include "TransferProgress.h"
#include "TransferSettingsDialogs.h"
#include "UDPServer.h"
#include "WindowLink.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QScreen>
#include <QWindow>

#include <cstring>
#include <utility>

namespace {
const QColor kConnectedColour(0, 128, 0);
const QColor kDisconnectedColour(255, 0, 0);
const char kProgramName[] = "scaledb";
// The free part of the bottom panel begins right of " Database kind: ".
constexpr int kProgressLeft = 521;

QIcon ScaleIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(40, 40, 40), 2));
  painter.setBrush(QColor(200, 200, 210));
  painter.drawRect(4, 22, 24, 6);
  painter.drawLine(16, 22, 16, 10);
  painter.drawLine(6, 10, 26, 10);
  painter.setBrush(QColor(0, 128, 0));
  painter.drawEllipse(2, 6, 8, 5);
  painter.drawEllipse(22, 6, 8, 5);
  return QIcon(pixmap);
}
}  // namespace

std::string DatabaseKindName(int deviceType, int position) {
  const TDatabaseKind* kind = DatabaseKindAt(position, deviceType);
  return kind ? std::string(kind->Name) : std::string();
}

QString BaudDisplayText(TBaudRate rate) {
  switch (rate) {
    case br4800: return QStringLiteral("4800");
    case br9600: return QStringLiteral("9600");
    case br19200: return QStringLiteral("19200");
    case br38400: return QStringLiteral("38400");
    case br57600: return QStringLiteral("57600");
    case br115200: return QStringLiteral("115200");
    default: return QStringLiteral("user defined");
  }
}

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent),
      ComPort1(this),
      Session(std::make_unique<TWindowLink>(ComPort1, Connection, ConnectionSettings), *this),
      Transfer(Session.Engine()),
      TimerBaza(Transfer.PaceTimer),
      Recorder(Transfer, [this] { return DescribeTransfer(); }) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral(" Scale database v" SCALEDB_VERSION));
  setWindowIcon(ScaleIcon());
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  setGeometry(218, 114, 696, 479);
  ComPort1.setObjectName(QStringLiteral("ComPort1"));
  ComPort1.OnRxChar = [this](TCustomComPort&, int count) { ComPort1RxChar(count); };
  ComPort1.OnDeviceLost = [this](TCustomComPort&) { ComPort1DeviceLost(); };
  // The history and the progress line are written before a result box waits for the operator.
  connect(&Recorder, &TTransferRecorder::Recorded, this, [this](const TTransferRecord& record) { RecordTransfer(record); });
  connect(&Transfer, &TTransfer::Finished, this, [this](bool failed) { ShowTransferResult(failed); });
  connect(&Transfer, &TTransfer::Abandoned, this, [this](const std::string& reason) { ShowTransferAbandoned(reason); });
  connect(&Transfer, &TTransfer::Started, this, [this] { LedgerBegin(); });
  connect(&Transfer, &TTransfer::Finished, this, [this] {
    transferTable_.reset();
    scaleLock_.Release();
  });
  connect(&Transfer, &TTransfer::Abandoned, this, [this] {
    transferTable_.reset();
    scaleLock_.Release();
  });
  // A serial command that could not be sent; the session has failed its transfer with it.
  connect(&Session.Link(), &TLink::Lost, this, [this](const std::string& what) { ShowPortDiagnosis(what + "."); });
  BuildMenu();
  BuildControls();
  connect(qGuiApp, &QGuiApplication::focusWindowChanged, this,
          [this](QWindow* window) { OnFocusWindowChanged(window); });
  connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state != Qt::ApplicationActive) returningFromOtherProgram_ = true;
  });
  FormCreate();
}

TForm1::~TForm1() {
  Recorder.EndUnfinished();
  if (MainWindowHandle == this) MainWindowHandle = nullptr;
}

void TForm1::BuildMenu() {
  QMenu* Plik1 = menuBar()->addMenu(QStringLiteral("File"));
  Otwrz1 = Plik1->addAction(QStringLiteral("Open"));
  Otwrz1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  connect(Otwrz1, &QAction::triggered, this, [this] { Guarded([this] { Otwrz1Click(); }); });
  CheckFile1 = Plik1->addAction(QStringLiteral("Check file"));
  CheckFile1->setEnabled(false);
  connect(CheckFile1, &QAction::triggered, this, [this] { Guarded([this] { CheckFile1Click(); }); });
  Scales1 = Plik1->addAction(QStringLiteral("Scales"));
  Scales1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  connect(Scales1, &QAction::triggered, this, [this] { Guarded([this] { Scales1Click(); }); });
  TransferHistory1 = Plik1->addAction(QStringLiteral("Transfer history"));
  connect(TransferHistory1, &QAction::triggered, this, [this] { Guarded([this] { TransferHistory1Click(); }); });
  TransferSettings1 = Plik1->addAction(QStringLiteral("Transfer settings"));
  connect(TransferSettings1, &QAction::triggered, this, [this] { Guarded([this] { TransferSettings1Click(); }); });
  Rs2321 = menuBar()->addAction(QStringLiteral("Connection"));
  connect(Rs2321, &QAction::triggered, this, [this] { Guarded([this] { Rs2321Click(); }); });
  SerialPorts1 = menuBar()->addAction(QStringLiteral("Serial ports"));
  connect(SerialPorts1, &QAction::triggered, this, [this] { Guarded([this] { SerialPorts1Click(); }); });
}

void TForm1::BuildControls() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  StringGrid1 = new QTableView(central);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  StringGrid1->setModel(&Database);
  StringGrid1->horizontalHeader()->hide();
  StringGrid1->verticalHeader()->hide();
  StringGrid1->verticalHeader()->setDefaultSectionSize(20);
  StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setFrameShape(QFrame::NoFrame);
  layout->addWidget(StringGrid1, 1);

  auto* Panel1 = new QWidget(central);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedHeight(81);
  layout->addWidget(Panel1);
  setCentralWidget(central);

  btnOpenPort = new QPushButton(QStringLiteral("Connect"), Panel1);
  btnOpenPort->setObjectName(QStringLiteral("btnOpenPort"));
  btnOpenPort->setGeometry(11, 12, 78, 25);
  connect(btnOpenPort, &QPushButton::clicked, this, [this] { Guarded([this] { btnOpenPortClick(); }); });

  bbWyslijBaze = new QPushButton(QStringLiteral("Send database"), Panel1);
  bbWyslijBaze->setObjectName(QStringLiteral("bbWyslijBaze"));
  bbWyslijBaze->setGeometry(96, 12, 89, 25);
  bbWyslijBaze->setProperty("Tag", 0);
  connect(bbWyslijBaze, &QPushButton::clicked, this, [this] { Guarded([this] { bbWyslijBazeClick(); }); });

  rgUrzadzenie = new TRadioGroup(QStringLiteral(" Device type: "), Panel1);
  rgUrzadzenie->setObjectName(QStringLiteral("rgUrzadzenie"));
  rgUrzadzenie->setGeometry(192, 8, 129, 65);
  rgUrzadzenie->SetItems({QStringLiteral("standard scale"), QStringLiteral("scale with KX-17")});
  rgUrzadzenie->SetItemIndex(0);
  rgUrzadzenie->OnClick = [this] { Guarded([this] { rgUrzadzenieClick(); }); };

  rgBaza = new TRadioGroup(QStringLiteral(" Database kind: "), Panel1);
  rgBaza->setObjectName(QStringLiteral("rgBaza"));
  rgBaza->setGeometry(328, 0, 185, 81);
  rgBaza->SetItems({QStringLiteral("product database"), QStringLiteral("user database")});
  rgBaza->SetItemIndex(0);
  rgBaza->OnClick = [this] { Guarded([this] { RefreshBoardHolds(); }); };

  LabelConnection = new QLabel(QStringLiteral("LabelConnection"), Panel1);
  LabelConnection->setObjectName(QStringLiteral("LabelConnection"));
  QFont bold = LabelConnection->font();
  bold.setBold(true);
  LabelConnection->setFont(bold);
  LabelConnection->move(16, 52);
  LabelConnection->adjustSize();

  // Only the progress is laid out; the other controls keep their fixed places.
  auto* panelLayout = new QVBoxLayout(Panel1);
  panelLayout->setContentsMargins(kProgressLeft, 6, 11, 0);
  Progress = new TTransferProgress(Transfer, *this, Panel1);
  Progress->ShowRow = [this](int row) { ShowSentRow(row); };
  panelLayout->addWidget(Progress);
  FileSummary = new QLabel(statusBar());
  FileSummary->setObjectName(QStringLiteral("FileSummary"));
  statusBar()->addPermanentWidget(FileSummary);
  // A status tip (a menu the mouse passes over) would wipe a message; a label stays. It never
  // widens the window: a long text is cut, whole in its tool tip.
  PortDiagnosis = new QLabel(statusBar());
  PortDiagnosis->setObjectName(QStringLiteral("PortDiagnosis"));
  PortDiagnosis->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  statusBar()->addWidget(PortDiagnosis, 1);
}

void TForm1::FormCreate() {
  MainWindowHandle = this;
  ComPort1.SetSavedGroups(StoredProp(sgBasic));
  const std::string serialSettings = SettingsFile(kSerialSettingsFileName);
  std::string serialFailure;
  try {
    ComPort1.RestoreSettings(stIniFile, serialSettings);
  } catch (const EComPort& error) {
    serialFailure = serialSettings + " could not be read: " + error.what() + ". The serial port keeps its defaults.";
  }
  repaint();
  Connection = std::make_unique<CEthConnection>(this);
  Connection->OnReply = [this](const std::string& text, int length) { HandleReply(text, length); };
  Connection->OnLinkFailure = [this](const std::string& reason) { ReportLinkFailure(reason); };
  Connection->OnOpenFailure = [](const std::string& reason) {
    ShowMessageBox(QString::fromStdString(reason), QStringLiteral("VU232v9"), TMessageIcon::Exclamation);
  };
  Connection->OnIgnoredDatagram = [this] { Recorder.CountIgnoredDatagram(); };
  PortState = lsDisconnected;
  OpenConfig(XMLConfig);
  ReadConfig(XMLConfig);
  ReportUnreadableSettings(serialFailure);
  Ledger = std::make_unique<TLedger>(StateDirectory());
  SayLedgerNotice();
  SetTransferLimits(Transfer, TransferSettings);
}

void TForm1::OnFocusWindowChanged(QWindow* window) {
  if (!window || window != windowHandle()) return;
  const bool fromOtherProgram = returningFromOtherProgram_ && activatedOnce_;
  returningFromOtherProgram_ = false;
  if (!fromOtherProgram) FormActivate();
}

void TForm1::FormActivate() {
  activatedOnce_ = true;
  showMaximized();
  repaint();
  ShowConnectionState();
}

// The first showing is an activation even where no window manager hands out the focus.
void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!activatedOnce_) QTimer::singleShot(0, this, [this] {
      if (!activatedOnce_) FormActivate();
    });
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TForm1::FormClose() {
  if (closed_) return;
  closed_ = true;
  // Closing the window stops the board's transfers, each recorded as stopped.
  if (ScalesBoard) ScalesBoard->StopAll();
  ClosePortQuietly(ComPort1);
  ShowConnectionState();
  const TConfigSave serialSave = SaveSerialSettings();
  Connection.reset();
  ReportFailedSaves({serialSave, WriteConfig(XMLConfig)});
  QCoreApplication::quit();
}

std::string TForm1::ConnectRefusal() const {
  const bool opensUdp = ConnectionSettings.Kind == ikEthernet && ConnectionSettings.Protocol == epUdp && Connection &&
                        Connection->State == lsDisconnected;
  if (opensUdp && ScalesBoard && ScalesBoard->HoldsUdpPort())
    return "The UDP connection cannot be opened: the Scales window sends to its UDP scales over local port " +
           std::to_string(ScalesBoard->UdpLocalPort) + ". Connect again once those transfers have ended, or press "
           "\"Stop\" there first.";
  return opensUdp ? NotOneScaleReason(ConnectionSettings.Host) : std::string();
}

// What could not be read at start is said in the status line; the program goes on with defaults.
void TForm1::ReportUnreadableSettings(const std::string& serialFailure) {
  std::string text;
  const auto add = [&text](const std::string& note) { text += (text.empty() ? "" : " ") + note; };
  if (!XMLConfig.LoadFailure.empty())
    add(XMLConfig.LoadedPath + " could not be read: " + XMLConfig.LoadFailure +
        ". The defaults are used; the file is kept as " + XMLConfig.KeptAs + " when the program closes.");
  if (!XMLConfig.ReadFailure.empty())
    add(XMLConfig.LoadedPath + " could not be read whole: " + XMLConfig.ReadFailure +
        ". The settings from there on keep their defaults.");
  if (!serialFailure.empty()) add(serialFailure);
  if (!text.empty()) statusBar()->showMessage(QString::fromLocal8Bit(text.c_str()));
}

TConfigSave TForm1::SaveSerialSettings() {
  const std::string usual = SettingsFileForSaving(kSerialSettingsFileName);
  try {
    ComPort1.SaveSettings(stIniFile, usual);
    return {usual, ""};
  } catch (const EComPort& error) {
    TConfigSave save{"", usual + ": " + (error.SystemCode() > 0 ? std::strerror(error.SystemCode()) : error.what())};
    const std::string fallback = FallbackSettingsFileForSaving(kSerialSettingsFileName);
    try {
      if (!fallback.empty() && fallback != usual) {
        ComPort1.SaveSettings(stIniFile, fallback);
        save.SavedTo = fallback;
      }
    } catch (const EComPort&) {
      // Said with the rest: SavedTo stays empty, "they could not be saved anywhere else either".
    }
    return save;
  }
}

// Settings that could not be saved where they belong are never lost in silence.
void TForm1::ReportFailedSaves(const std::vector<TConfigSave>& saves) {
  QString text;
  for (const TConfigSave& save : saves) {
    if (save.Failure.empty()) continue;
    text += QString::fromLocal8Bit(("The settings could not be saved to " + save.Failure + ".\n").c_str());
    text += save.SavedTo.empty()
                ? QStringLiteral("They could not be saved anywhere else either.\n")
                : QString::fromLocal8Bit(("They are saved in " + save.SavedTo + " instead, and read from there from now on.\n").c_str());
  }
  if (!text.isEmpty()) ShowMessageBox(text.trimmed(), QStringLiteral("Settings"), TMessageIcon::Exclamation);
}

void TForm1::btnOpenPortClick() {
  if (ConnectionSettings.Kind != ikSerial) {
    if (const std::string refusal = ConnectRefusal(); !refusal.empty()) {
      ShowMessageBox(QString::fromStdString(refusal), QStringLiteral("Failure"), TMessageIcon::Information);
      return;
    }
    if (Connection) Connection->ToggleConnection(ConnectionSettings.Protocol, ConnectionSettings.Host, ConnectionSettings.Port);
    return;
  }
  if (PortState != lsDisconnected) {
    try {
      ComPort1.ClosePort();
    } catch (const EComPort& error) {
      ShowPortDiagnosis(ComPort1.Port() + " could not be closed: " + error.what() + ".");
    }
    PortState = lsDisconnected;
    btnOpenPort->setText(QStringLiteral("Connect"));
  } else {
    try {
      ComPort1.OpenPort();
      ShowOpenDiagnosis(nullptr);
      PortState = lsConnected;
      btnOpenPort->setText(QStringLiteral("Disconnect"));
    } catch (...) {
      ShowOpenDiagnosis(std::current_exception());
      ShowMessageBox(QStringLiteral("Selected COM port does not exist or is occupied by other software"),
                     QStringLiteral("VU232v9"), TMessageIcon::Exclamation);
    }
  }
  ShowConnectionState();
}

void TForm1::ShowOpenDiagnosis(std::exception_ptr failure) {
  std::string text;
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const EComPort& error) {
    // The box already says that the port failed; the line says why.
    text = SerialOpenDiagnosis(ComPort1.Port(), PortDevicePath(ComPort1.Port()), error);
  } catch (const std::exception& error) {
    // Not the port's own failure (a handler of its opening): its words are all there is.
    text = error.what();
  }
  ShowPortDiagnosis(text);
}

void TForm1::ShowPortDiagnosis(const std::string& text) {
  PortDiagnosis->setText(QString::fromLocal8Bit(text.c_str()));
  PortDiagnosis->setToolTip(PortDiagnosis->text());
}

// A command that could not be sent or an answer not read: the line says why, and a transfer
// under way fails with it.
void TForm1::ReportLinkFailure(const std::string& reason) {
  ShowPortDiagnosis(reason + ".");
  Session.LinkLost(reason);
}

void TForm1::SetLabelColour(const QColor& colour) {
  QPalette palette = LabelConnection->palette();
  palette.setColor(QPalette::WindowText, colour);
  LabelConnection->setPalette(palette);
}

void TForm1::ShowConnectionState() {
  QString text;
  if (ConnectionSettings.Kind == ikSerial) {
    text = QString::fromStdString(ComPort1.Port()) + QLatin1Char(' ') + BaudDisplayText(ComPort1.BaudRate()) +
           QStringLiteral("bps");
    const bool connected = ComPort1.Connected();
    btnOpenPort->setText(connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    text += connected ? QStringLiteral(" connected") : QStringLiteral(" disconnected");
    SetLabelColour(connected ? kConnectedColour : kDisconnectedColour);
  } else if (ConnectionSettings.Kind == ikEthernet) {
    text = QString::fromStdString(ConnectionSettings.Host);
    if (PortState == lsDisconnected) {
      btnOpenPort->setText(QStringLiteral("Connect"));
      text += QStringLiteral(" disconnected");
      SetLabelColour(kDisconnectedColour);
    } else if (PortState == lsConnected) {
      btnOpenPort->setText(QStringLiteral("Disconnect"));
      text += QStringLiteral(" connected");
      SetLabelColour(kConnectedColour);
    }
  } else {
    return;
  }
  LabelConnection->setText(text);
  LabelConnection->adjustSize();
}

bool TForm1::event(QEvent* event) {
  if (event->type() == static_cast<QEvent::Type>(WM_PORT_STATE)) {
    OnUpdatePortMessage(static_cast<const TPortStateEvent&>(*event));
    return true;
  }
  return QMainWindow::event(event);
}

void TForm1::OnUpdatePortMessage(const TPortStateEvent& message) {
  PortState = static_cast<uint8_t>(message.wParam & 0xFF);
  ShowConnectionState();
}

void TForm1::Rs2321Click() {
  if (PortState != lsDisconnected) btnOpenPortClick();
  if (ConnectionForm) ConnectionForm->exec();
  if (PortState == lsDisconnected) btnOpenPortClick();
}

void TForm1::rgUrzadzenieClick() {
  if (rgUrzadzenie->ItemIndex() == 0) {
    rgBaza->SetItems({QStringLiteral("product database"), QStringLiteral("user database")});
  } else {
    rgBaza->SetItems(
        {QStringLiteral("label database"), QStringLiteral("user database"), QStringLiteral("status database")});
  }
  rgBaza->SetItemIndex(0);
}

QString TForm1::ChooseDatabaseFile() {
  QFileDialog dialog(this, QStringLiteral("Open"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({QStringLiteral("csv files (*.csv)"), QStringLiteral("all files (*)")});
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

void TForm1::Otwrz1Click() {
  if (ScalesBoard && ScalesBoard->Sending()) {
    ShowMessageBox(QStringLiteral("The table is being sent to the scales of the Scales window. Open another file once "
                                  "those transfers have ended, or stop them first."),
                   QStringLiteral("Open"), TMessageIcon::Information);
    return;
  }
  if (Transfer.Stoppable()) {
    ShowMessageBox(QStringLiteral("The table is being sent to the scale. Open another file once the transfer has "
                                  "ended, or press \"Stop\" first."),
                   QStringLiteral("Open"), TMessageIcon::Information);
    return;
  }
  const QString path = OpenDialog1 ? OpenDialog1() : ChooseDatabaseFile();
  if (path.isEmpty()) return;
  // A pipe would hold the event loop until its writer ends it, so the window takes regular files only.
  TDatabaseLoad load = LoadDatabaseFile(path.toLocal8Bit().toStdString(), TDatabaseSources::RegularFile);
  Database.SetTable(std::move(load.Table));
  DatabaseFileName = QFileInfo(path).absoluteFilePath().toLocal8Bit().toStdString();
  CheckOpenedFile();
  Progress->Clear();
  if (!load.ReadError.empty()) throw EDatabaseFile(load.ReadError);
}

void TForm1::bbWyslijBazeClick() {
  if (Transfer.Stoppable()) {
    Transfer.Stop();
    return;
  }
  // A file the scale's code page cannot hold goes nowhere, not even its start command.
  if (!DatabaseFileName.empty() && !FileReport.CanSend()) {
    ShowMessageBox(QString::fromStdString(RefusalReason(FileReport)) + QLatin1Char('\n') +
                       QString::fromLatin1(kTransferFailedText),
                   QStringLiteral("Failure"), TMessageIcon::Information);
    return;
  }
  if (!LockScale()) return;
  // Taken before the start, whose record describes this table, not one a stopped transfer still reads.
  TakeTransferTable();
  Transfer.Start();
}

void TForm1::TimerBazaTimer() { Transfer.PaceTick(); }

TLinkSettings TForm1::WindowLinkSettings() const {
  TLinkSettings link;
  if (ConnectionSettings.Kind == ikSerial) {
    link.SerialPort = ComPort1.Port();
    return link;
  }
  link.Kind = ConnectionSettings.Protocol == epUdp ? TLinkSettings::TKind::Udp : TLinkSettings::TKind::Tcp;
  link.Host = ConnectionSettings.Host;
  link.Port = ConnectionSettings.Port;
  return link;
}

bool TForm1::LockScale() {
  const std::string key = ScaleKeyOf(WindowLinkSettings());
  ledgerScale_ = key;
  if (scaleLock_.Held() && scaleLock_.Key() == key) return true;
  const TScaleLock::TOutcome lock = scaleLock_.Take(key, kProgramName);
  if (lock.Refused) {
    ShowMessageBox(QString::fromStdString(lock.Text), QStringLiteral("Failure"), TMessageIcon::Information);
    return false;
  }
  if (!lock.Text.empty()) statusBar()->showMessage(QString::fromLocal8Bit(lock.Text.c_str()));
  return true;
}

void TForm1::LedgerBegin() {
  const std::optional<TTransferRecord>& record = Recorder.Current();
  if (!record) return;
  if (ledgerScale_.empty()) ledgerScale_ = ScaleKeyOf(WindowLinkSettings());
  ledgerId_ = Ledger->Begin({ledgerScale_, record->Link}, *record);
  SayLedgerNotice();
}

void TForm1::SayLedgerNotice() {
  if (const std::string notice = Ledger->TakeNotice(); !notice.empty())
    statusBar()->showMessage(QString::fromLocal8Bit(notice.c_str()));
}

void TForm1::CheckOpenedFile() {
  FileReport = CheckFile(Database.Table(), TEncodingSettings{TransferSettings.ScaleCodePage, TransferSettings.Transliterate});
  rowEncoder_ = FileReport.Converts() ? std::function<std::string(std::string)>(TRowEncoder(FileReport)) : nullptr;
  FileSummary->setText(QString::fromStdString(ReportSummary(FileReport)));
  CheckFile1->setEnabled(true);
  RefreshBoardHolds();
}

// What the board's scales hold is of the table, the database kind and the code page now.
void TForm1::RefreshBoardHolds() {
  if (ScalesBoard) ScalesBoard->RefreshHolds();
}

void TForm1::CheckFile1Click() {
  TFileCheckDialog dialog(FileSummary->text(), QString::fromStdString(ReportText(FileReport)), this);
  dialog.exec();
}

void TForm1::TransferSettings1Click() {
  TTransferSettingsDialog dialog(TransferSettings, this);
  if (dialog.exec() == QDialog::Accepted) ApplyTransferSettings(dialog.Settings());
}

void TForm1::ApplyTransferSettings(const TTransferSettings& settings) {
  TransferSettings = settings;
  SetTransferLimits(Transfer, TransferSettings);
  if (!DatabaseFileName.empty()) CheckOpenedFile();
}

void TForm1::ComPort1RxChar(int count) {
  const TSerialRead read = ReadSerialText(ComPort1, count);
  if (!read.Failure.empty()) ReportLinkFailure(read.Failure);
  if (!read.Text.empty()) HandleReply(read.Text, static_cast<int>(read.Text.size()));
}

// The label reads closed before a failure box waits for the operator.
void TForm1::ComPort1DeviceLost() {
  ClosePortQuietly(ComPort1);
  PortState = lsDisconnected;
  ShowConnectionState();
  ShowPortDiagnosis(std::string(kSerialDeviceGoneText) + ".");
  Session.LinkLost(kSerialDeviceGoneText);
}

void TForm1::SerialPorts1Click() {
  if (!SerialPortsWindow) SerialPortsWindow = new TSerialPortsWindow(this);
  SerialPortsWindow->Reload();
  SerialPortsWindow->show();
  SerialPortsWindow->raise();
  SerialPortsWindow->activateWindow();
}

void TForm1::HandleReply(const std::string& text, int) { WindowLink().Receive(text); }

TWindowLink& TForm1::WindowLink() { return static_cast<TWindowLink&>(Session.Link()); }

void TForm1::SendOrder(const std::string& command) { Session.SendOrder(command); }

void TForm1::TakeTransferTable() {
  transferTable_ = Database.SharedTable();
  Session.SetRowEncoder(rowEncoder_);
}

int TForm1::RowCount() const { return TransferTable().RowCount(); }

std::string TForm1::RowText(int row) const { return TransferTable().RowText(row); }

int TForm1::DatabaseKindPosition() const { return rgBaza->ItemIndex(); }

int TForm1::SendButtonTag() const { return bbWyslijBaze->property("Tag").toInt(); }

void TForm1::ShowStoppable(bool stoppable) { SetSendButtonTag(stoppable ? 1 : 0); }

void TForm1::SetSendButtonTag(int tag) {
  bbWyslijBaze->setProperty("Tag", tag);
  bbWyslijBaze->setText(tag == 0 ? QStringLiteral("Send database") : QStringLiteral("Stop"));
  btnOpenPort->setEnabled(tag == 0);
}

void TForm1::ShowTransferResult(bool failed) {
  if (failed)
    ShowMessageBox(QStringLiteral("Database could not be sent to scale."), QStringLiteral("Failure"),
                   TMessageIcon::Information);
  else
    ShowMessageBox(QStringLiteral("Database was sent to scale."), QStringLiteral("Success"),
                   TMessageIcon::Information);
}

void TForm1::ShowTransferAbandoned(const std::string& reason) {
  ShowMessageBox(QString::fromStdString(reason) + QLatin1Char('\n') + QString::fromLatin1(kTransferFailedText),
                 QStringLiteral("Failure"), TMessageIcon::Information);
}

// The row being sent is selected and scrolled into view; the keyboard focus stays where it is.
void TForm1::ShowSentRow(int row) {
  if (row == TTransfer::kNoRow || row >= Database.rowCount() || transferTable_ != Database.SharedTable()) return;
  const QModelIndex cell = Database.index(row, 0);
  StringGrid1->selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  StringGrid1->scrollTo(cell);
}

TTransferRecord TForm1::DescribeTransfer() const {
  TTransferRecord record;
  record.Program = kProgramName;
  record.File = DatabaseFileName;
  record.Link = Session.Link().Name();
  record.Kind = DatabaseKindName(rgUrzadzenie->ItemIndex(), DatabaseKindPosition());
  record.Rows = RowCount();
  record.Digest = ContentDigest(TransferTable(), DatabaseKindPosition(), rowEncoder_);
  return record;
}

void TForm1::RecordTransfer(const TTransferRecord& record) {
  Progress->ShowResult(record);
  Ledger->End(std::exchange(ledgerId_, 0), record);
  ledgerScale_.clear();
  SayLedgerNotice();
  RefreshBoardHolds();
  try {
    AppendHistory(HistoryPath(), record);
  } catch (const EHistory& error) {
    if (!historyFailureReported_) statusBar()->showMessage(QString::fromLocal8Bit(error.what()));
    historyFailureReported_ = true;
  }
  if (HistoryWindow) HistoryWindow->Reload();
}

TBoardJob TForm1::BoardJob() const {
  TBoardJob job;
  if (!DatabaseFileName.empty()) job.Table = Database.SharedTable();
  job.File = DatabaseFileName;
  job.Kind = DatabaseKindName(rgUrzadzenie->ItemIndex(), DatabaseKindPosition());
  job.KindPosition = DatabaseKindPosition();
  job.RowEncoder = rowEncoder_;
  if (!DatabaseFileName.empty() && !FileReport.CanSend()) job.Refusal = RefusalReason(FileReport);
  job.PaceMs = Transfer.PaceMs();
  job.AnswerTimeoutMs = Transfer.AnswerTimeoutMs();
  job.Retries = Transfer.RecordRetries();
  job.WindowHoldsUdpPort = ConnectionSettings.Kind == ikEthernet && ConnectionSettings.Protocol == epUdp && Connection &&
                           Connection->State != lsDisconnected;
  return job;
}

// Beside the main window where the screen has room, else over its right part.
void TForm1::Scales1Click() {
  if (!ScalesBoard) {
    ScalesBoard = new TScalesBoard(*Ledger, [this] { return BoardJob(); }, this);
    const QRect screen = windowHandle() && windowHandle()->screen() ? windowHandle()->screen()->availableGeometry() : QRect();
    QPoint place = frameGeometry().topRight() + QPoint(8, 0);
    if (screen.isValid() && place.x() + ScalesBoard->width() > screen.right())
      place.setX(std::max(screen.left(), screen.right() - ScalesBoard->width()));
    ScalesBoard->move(place);
  }
  ScalesBoard->Refresh();
  ScalesBoard->show();
  ScalesBoard->raise();
  ScalesBoard->activateWindow();
}

void TForm1::TransferHistory1Click() {
  if (!HistoryWindow)
    HistoryWindow = new TTransferHistoryWindow(
        [this](size_t count) { return Ledger->Usable() ? Ledger->Latest(count) : ReadHistory(HistoryPath(), count); }, this);
  HistoryWindow->Reload();
  HistoryWindow->show();
  HistoryWindow->raise();
  HistoryWindow->activateWindow();
}
