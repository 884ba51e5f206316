#include "ConnectionUnit.h"

#include "DialogParts.h"
#include "ErrorHandler.h"
#include "Global.h"
#include "IntParse.h"
#include "RadioGroup.h"
#include "SerialPort.h"
#include "SerialPortSetup.h"
#include "SpeedButton.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>
#include <iterator>

namespace {
constexpr int kDefaultBaudPosition = 10;  // "4800"
constexpr int32_t kPortWhenNotANumber = 1001;
constexpr int kHostTypingLimit = 15;
constexpr int kPortTypingLimit = 5;

const char* const kBaudRateItems[] = {"50",   "75",   "110",  "134.5", "150",   "300",   "600",
                                      "1200", "1800", "2400", "4800",  "7200",  "9600",  "19200",
                                      "38400", "57600", "115200", "230400", "460800", "921600"};

QLineEdit* NewEdit(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(geometry);
  return edit;
}

// The edit's length limit holds back typing only: a longer value is shown whole, and while it is
// shown the limit is its length, so that one of its characters can still be replaced.
void ShowWhole(QLineEdit* edit, const QString& text, int typingLimit) {
  edit->setMaxLength(std::max(typingLimit, static_cast<int>(text.size())));
  edit->setText(text);
}

QGroupBox* NewGroupBox(QWidget* parent, const char* name, const QString& caption) {
  auto* box = new QGroupBox(caption, parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(0, 48, 225, 129);
  return box;
}

QToolButton* NewArrow(QWidget* parent, Qt::ArrowType arrow) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}
}  // namespace

TUpDown::TUpDown(QLineEdit& associate, int min, int max, QWidget* parent)
    : QWidget(parent), associate_(associate), min_(min), max_(max), position_(min) {
  setFocusPolicy(Qt::TabFocus);
  QToolButton* up = NewArrow(this, Qt::UpArrow);
  QToolButton* down = NewArrow(this, Qt::DownArrow);
  up->setGeometry(0, 0, 15, 11);
  down->setGeometry(0, 11, 15, 10);
  connect(up, &QToolButton::clicked, this, [this] { Step(1); });
  connect(down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void TUpDown::SetPosition(int position) {
  position_ = std::clamp(position, min_, max_);
  associate_.setText(QString::number(position_));
}

void TUpDown::Step(int delta) {
  bool isNumber = false;
  const int shown = associate_.text().toInt(&isNumber);
  SetPosition((isNumber ? shown : position_) + delta);
}

void TUpDown::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Up)
    Step(1);
  else if (event->key() == Qt::Key_Down)
    Step(-1);
  else
    QWidget::keyPressEvent(event);
}

TConnectionForm::TConnectionForm(TCustomComPort& comPort, std::function<void()> clickOpenPort, QWidget* parent)
    : QDialog(parent), comPort_(comPort), clickOpenPort_(std::move(clickOpenPort)) {
  setObjectName(QStringLiteral("ConnectionForm"));
  setWindowTitle(QString::fromUtf8("Ustawienia połączenia"));
  UseDialogLook(*this);
  setFixedSize(225, 209);
  move(465, 238);
  BuildControls();
}

void TConnectionForm::BuildControls() {
  BuildEthernetBox();
  BuildSerialBox();
  rgConnection = new TRadioGroup(QStringLiteral(" Connection:"), this, 2);
  rgConnection->setObjectName(QStringLiteral("rgConnection"));
  rgConnection->setGeometry(0, 0, 225, 41);
  rgConnection->SetItems({QStringLiteral("Serial port"), QStringLiteral("Ethernet")});
  rgConnection->OnClick = [this] { rgConnectionClick(); };
  rgConnection->SetItemIndex(0);

  sbApply = NewSpeedButton(this, QStringLiteral("sbApply"), QStringLiteral("Apply"), QStringLiteral("Apply settings"),
                           TGlyph::Apply, QRect(72, 184, 73, 25));
  connect(sbApply, &QToolButton::clicked, this, [this] { Guarded([this] { sbApplyClick(); }); });
  sbCancel = NewSpeedButton(this, QStringLiteral("sbCancel"), QStringLiteral("Cancel"),
                            QStringLiteral("Cancel settings"), TGlyph::Cancel, QRect(152, 184, 65, 25));
  connect(sbCancel, &QToolButton::clicked, this, [this] { Guarded([this] { sbCancelClick(); }); });
  SetTabOrder();
}

void TConnectionForm::BuildEthernetBox() {
  gbEthernet = NewGroupBox(this, "gbEthernet", QString::fromUtf8(" Ustawienia połączenia ethernetowego: "));
  Label1 = NewLabel(gbEthernet, "Label1", QStringLiteral("Adres IP:"), 10, 28);
  EditIP = NewEdit(gbEthernet, "EditIP", QStringLiteral("000.000.000.000"), QRect(64, 24, 89, 21));
  EditIP->setMaxLength(kHostTypingLimit);
  Label2 = NewLabel(gbEthernet, "Label2", QStringLiteral("Port:"), 26, 60);
  EditPort = NewEdit(gbEthernet, "EditPort", QStringLiteral("00000"), QRect(64, 56, 46, 21));
  EditPort->setMaxLength(kPortTypingLimit);
  rgEthProtocol = new TRadioGroup(QString::fromUtf8("Protokół"), gbEthernet, 2);
  rgEthProtocol->setObjectName(QStringLiteral("rgEthProtocol"));
  rgEthProtocol->setGeometry(16, 84, 193, 37);
  rgEthProtocol->SetItems({QStringLiteral("TCP"), QStringLiteral("UDP")});
  rgEthProtocol->SetItemIndex(0);
}

void TConnectionForm::BuildSerialBox() {
  gbSerialPort = NewGroupBox(this, "gbSerialPort", QStringLiteral(" Serial port settings: "));
  LabelCOMPort = NewLabel(gbSerialPort, "LabelCOMPort", QStringLiteral("COM Port:"), 34, 28);
  EditCOM = NewEdit(gbSerialPort, "EditCOM", QStringLiteral("1"), QRect(99, 24, 38, 21));
  UpDownCOM = new TUpDown(*EditCOM, 1, 255, gbSerialPort);
  UpDownCOM->setObjectName(QStringLiteral("UpDownCOM"));
  UpDownCOM->setGeometry(137, 24, 15, 21);
  LabelBaudRate = NewLabel(gbSerialPort, "LabelBaudRate", QStringLiteral("Baud rate:"), 34, 60);
  cbBaudRate = new QComboBox(gbSerialPort);
  cbBaudRate->setObjectName(QStringLiteral("cbBaudRate"));
  cbBaudRate->setGeometry(99, 56, 69, 21);
  for (const char* item : kBaudRateItems) cbBaudRate->addItem(QString::fromLatin1(item));
  cbBaudRate->setCurrentIndex(kDefaultBaudPosition);
  Label34 = NewLabel(gbSerialPort, "Label34", QStringLiteral("bps"), 171, 60);
  sbSerialAdvanced = NewSpeedButton(gbSerialPort, QStringLiteral("sbSerialAdvanced"),
                                    QStringLiteral("Advanced options"), QString(), TGlyph::Advanced,
                                    QRect(48, 88, 121, 25));
  connect(sbSerialAdvanced, &QToolButton::clicked, this, [this] { Guarded([this] { sbSerialAdvancedClick(); }); });
}

void TConnectionForm::SetTabOrder() {
  QWidget* const order[] = {rgConnection, EditIP, EditPort, rgEthProtocol, EditCOM, UpDownCOM, cbBaudRate};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void TConnectionForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) Guarded([this] { FormShow(); });
  QDialog::showEvent(event);
}

// The form has neither a default nor a cancel key.
void TConnectionForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TConnectionForm::FormShow() {
  rgConnection->SetItemIndex(ConnectionSettings.Kind);
  rgEthProtocol->SetItemIndex(ConnectionSettings.Protocol);
  ShowWhole(EditIP, QString::fromStdString(ConnectionSettings.Host), kHostTypingLimit);
  ShowWhole(EditPort, QString::number(ConnectionSettings.Port), kPortTypingLimit);
  GetCOMPortSettings();
}

void TConnectionForm::rgConnectionClick() {
  gbSerialPort->setVisible(rgConnection->ItemIndex() == 0);
  gbEthernet->setVisible(rgConnection->ItemIndex() == 1);
}

void TConnectionForm::GetCOMPortSettings() {
  std::string number = comPort_.Port();
  if (const size_t at = number.find("COM"); at != std::string::npos) number.erase(at, 3);
  EditCOM->setText(QString::fromStdString(number));
  const int found = cbBaudRate->findText(QString::fromStdString(BaudRateText(comPort_.BaudRate())),
                                         Qt::MatchExactly | Qt::MatchCaseSensitive);
  cbBaudRate->setCurrentIndex(found >= 0 ? found : kDefaultBaudPosition);
}

void TConnectionForm::sbSerialAdvancedClick() {
  try {
    RunSetupDialog(comPort_);
  } catch (const EComPort& error) {
    // No caller waits for it: the port's own error display says why its settings stopped.
    if (ComPortDefaultErrorDisplay) ComPortDefaultErrorDisplay(error);
  }
  if (SetupAccepted) GetCOMPortSettings();
}

void TConnectionForm::sbApplyClick() {
  ConnectionSettings.Kind = static_cast<uint8_t>(rgConnection->ItemIndex());
  ConnectionSettings.Protocol = static_cast<uint8_t>(rgEthProtocol->ItemIndex());
  ConnectionSettings.Host = EditIP->text().toStdString();
  ConnectionSettings.Port = StrToIntDef(EditPort->text().toStdString(), kPortWhenNotANumber);
  comPort_.SetPort("COM" + EditCOM->text().toStdString());
  comPort_.SetBaudRate(BaudRateFromText(cbBaudRate->currentText().toStdString()));
  clickOpenPort_();
  close();
}

void TConnectionForm::sbCancelClick() {
  clickOpenPort_();
  close();
}
