#include "SerialPortSetup.h"

#include "DialogParts.h"
#include "ErrorHandler.h"
#include "ObjectTree.h"
#include "SpeedButton.h"
#include "Translation.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include <exception>

bool SetupAccepted = false;

namespace {
constexpr int kLabelLeft = 8;
constexpr int kComboLeft = 80;
constexpr int kComboWidth = 129;
constexpr int kComboHeight = 21;

void CentreOnScreen(QWidget& window) {
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    window.move(screen->availableGeometry().center() - window.rect().center());
}

// The settings go in while the port holds back, so an open device is reconfigured once.
void ApplyInOneGo(TCustomComPort& port, const std::array<TPortComboBox*, 6>& combos) {
  port.SuspendApply();
  std::exception_ptr failure;
  try {
    for (TPortComboBox* combo : combos) combo->ApplyToPort();
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    port.ResumeApply();
  } catch (...) {
    if (!failure) throw;
  }
  if (failure) std::rethrow_exception(failure);
}
}  // namespace

TPortSetupFrm::TPortSetupFrm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("PortSetupFrm"));
  setWindowTitle(QStringLiteral("RS-232 settings"));
  UseDialogLook(*this);
  setFixedSize(231, 216);
  BuildControls();
  CentreOnScreen(*this);
  try {
    FormCreate();
  } catch (const std::exception& error) {
    ShowUnexpectedError(QString::fromLocal8Bit(error.what()));
  }
}

void TPortSetupFrm::BuildControls() {
  GroupBox1 = new QGroupBox(QStringLiteral(" Settings: "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 8, 217, 169);

  Label1 = NewLabel(GroupBox1, "Label1", QStringLiteral("Port:"), kLabelLeft, 24);
  Label2 = NewLabel(GroupBox1, "Label2", QStringLiteral("Baud rate:"), kLabelLeft, 48);
  Label3 = NewLabel(GroupBox1, "Label3", QStringLiteral("Data bits:"), kLabelLeft, 72);
  Label4 = NewLabel(GroupBox1, "Label4", QStringLiteral("Stop bits:"), kLabelLeft, 96);
  Label5 = NewLabel(GroupBox1, "Label5", QStringLiteral("Parity:"), kLabelLeft, 120);
  Label6 = NewLabel(GroupBox1, "Label6", QStringLiteral("Flow control:"), kLabelLeft, 144);

  Combo1 = NewCombo("Combo1", cpPort, 16);
  Combo2 = NewCombo("Combo2", cpBaudRate, 40);
  Combo3 = NewCombo("Combo3", cpDataBits, 64);
  Combo4 = NewCombo("Combo4", cpStopBits, 88);
  Combo5 = NewCombo("Combo5", cpParity, 112);
  Combo6 = NewCombo("Combo6", cpFlowControl, 136);

  sbApply = NewSpeedButton(this, QStringLiteral("sbApply"), QStringLiteral("Zastosuj"),
                           QStringLiteral("Apply settings"), TGlyph::Apply, QRect(80, 184, 73, 25));
  connect(sbApply, &QToolButton::clicked, this, [this] { sbApplyClick(); });
  sbCancel = NewSpeedButton(this, QStringLiteral("sbCancel"), QStringLiteral("Anuluj"),
                            QStringLiteral("Cancel settings"), TGlyph::Cancel, QRect(160, 184, 65, 25));
  connect(sbCancel, &QToolButton::clicked, this, [this] { sbCancelClick(); });

  BitBtnApply = NewHiddenButton("BitBtnApply", QStringLiteral("Apply"), 8);
  connect(BitBtnApply, &QPushButton::clicked, this, &QDialog::accept);
  BitBtnCancel = NewHiddenButton("BitBtnCancel", QStringLiteral("Cancel"), 16);
  connect(BitBtnCancel, &QPushButton::clicked, this, &QDialog::reject);

  setTabOrder(Combo1, Combo2);
  setTabOrder(Combo2, Combo3);
  setTabOrder(Combo3, Combo4);
  setTabOrder(Combo4, Combo5);
  setTabOrder(Combo5, Combo6);
}

TPortComboBox* TPortSetupFrm::NewCombo(const char* name, TComProperty kind, int top) {
  auto* combo = new TPortComboBox(GroupBox1);
  combo->setObjectName(QString::fromLatin1(name));
  combo->setGeometry(kComboLeft, top, kComboWidth, kComboHeight);
  combo->SetComProperty(kind);
  return combo;
}

QPushButton* TPortSetupFrm::NewHiddenButton(const char* name, const QString& caption, int left) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(left, 188, 17, 22);
  button->setAutoDefault(false);
  button->hide();
  return button;
}

void TPortSetupFrm::FormCreate() {
  for (const char* name : {"Combo1", "Combo2", "Combo3", "Combo4", "Combo5", "Combo6"}) TranslateIgnore(this, name);
  TranslateObjectTree(this, "cport");
}

void TPortSetupFrm::sbApplyClick() {
  BitBtnApply->click();
  SetupAccepted = true;
}

void TPortSetupFrm::sbCancelClick() {
  BitBtnCancel->click();
  SetupAccepted = false;
}

// The form has neither a default nor a cancel key.
void TPortSetupFrm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void RunSetupDialog(TCustomComPort& port) {
  TPortSetupFrm dialog;
  const std::array<TPortComboBox*, 6> combos = dialog.Combos();
  for (TPortComboBox* combo : combos) combo->SetComPort(&port);
  for (TPortComboBox* combo : combos) combo->UpdateFromPort();
  const QPointer<TCustomComPort> portAlive(&port);
  if (dialog.exec() != QDialog::Accepted || !portAlive) return;
  ApplyInOneGo(port, combos);
}
