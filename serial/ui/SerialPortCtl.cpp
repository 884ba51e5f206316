#include "SerialPortCtl.h"

#include <QStringList>

#include <algorithm>

namespace {
template <typename Enum>
QStringList EnumTexts(Enum last, std::string (*text)(Enum)) {
  QStringList texts;
  for (int value = 0; value <= static_cast<int>(last); ++value)
    texts << QString::fromStdString(text(static_cast<Enum>(value)));
  return texts;
}

QStringList PortNames() {
  std::vector<std::string> names;
  ListSerialPorts(names);
  QStringList texts;
  for (const std::string& name : names) texts << QString::fromStdString(name);
  std::stable_sort(texts.begin(), texts.end(),
                   [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  return texts;
}

QStringList ItemTexts(TComProperty kind) {
  switch (kind) {
    case cpNone: return {};
    case cpPort: return PortNames();
    case cpBaudRate: return EnumTexts(br256000, BaudRateText);
    case cpDataBits: return EnumTexts(dbEight, DataBitsText);
    case cpStopBits: return EnumTexts(sbTwoStopBits, StopBitsText);
    case cpParity: return EnumTexts(prSpace, ParityText);
    case cpFlowControl: return EnumTexts(fcCustom, FlowControlText);
  }
  return {};
}

int FindIgnoringCase(const QComboBox& items, const std::string& text) {
  return items.findText(QString::fromStdString(text), Qt::MatchFixedString);
}
}  // namespace

TPortSelect::~TPortSelect() { QObject::disconnect(portWatch_); }

void TPortSelect::SetComPort(TCustomComPort* port) {
  if (port == port_) return;
  QObject::disconnect(portWatch_);
  port_ = port;
  if (!port_) return;
  portWatch_ = QObject::connect(port_, &QObject::destroyed, items_, [this] { PortDestroyed(); });
  UpdateFromPort();
}

void TPortSelect::SetComProperty(TComProperty kind) {
  kind_ = kind;
  Fill();
}

void TPortSelect::Fill() {
  items_->clear();
  items_->addItems(ItemTexts(kind_));
  if (items_->count() == 0) return;
  if (port_)
    UpdateFromPort();
  else
    items_->setCurrentIndex(0);
}

void TPortSelect::PortDestroyed() {
  port_ = nullptr;
  if (items_->count() > 0) items_->setCurrentIndex(0);
}

std::string TPortSelect::PortValueText() const {
  switch (kind_) {
    case cpNone: return {};
    case cpPort: return port_->Port();
    case cpBaudRate: return BaudRateText(port_->BaudRate());
    case cpDataBits: return DataBitsText(port_->DataBits());
    case cpStopBits: return StopBitsText(port_->StopBits());
    case cpParity: return ParityText(port_->Parity().Bits());
    case cpFlowControl: return FlowControlText(port_->FlowControl().FlowControl());
  }
  return {};
}

void TPortSelect::UpdateFromPort() {
  if (!port_) return;
  const int index = FindIgnoringCase(*items_, PortValueText());
  items_->setCurrentIndex(index);
  if (index >= 0) TakeValue(items_->itemText(index).toStdString());
}

void TPortSelect::TakeValue(const std::string& text) {
  switch (kind_) {
    case cpNone: break;
    case cpPort: pendingPort_ = text; break;
    case cpBaudRate: pendingBaudRate_ = BaudRateFromText(text); break;
    case cpDataBits: pendingDataBits_ = DataBitsFromText(text); break;
    case cpStopBits: pendingStopBits_ = StopBitsFromText(text); break;
    case cpParity: pendingParity_ = ParityFromText(text); break;
    case cpFlowControl: pendingFlowControl_ = FlowControlFromText(text); break;
  }
}

void TPortSelect::Choose(const std::string& text) {
  TakeValue(text);
  if (autoApply_) ApplyToPort();
}

void TPortSelect::ApplyToPort() {
  if (!port_) return;
  switch (kind_) {
    case cpNone: break;
    case cpPort: port_->SetPort(pendingPort_); break;
    case cpBaudRate: port_->SetBaudRate(pendingBaudRate_); break;
    case cpDataBits: port_->SetDataBits(pendingDataBits_); break;
    case cpStopBits: port_->SetStopBits(pendingStopBits_); break;
    case cpParity: port_->Parity().SetBits(pendingParity_); break;
    case cpFlowControl: port_->FlowControl().SetFlowControl(pendingFlowControl_); break;
  }
}

TPortComboBox::TPortComboBox(QWidget* parent) : QComboBox(parent) {
  Select.Attach(*this);
  setEditable(false);
  connect(this, &QComboBox::activated, this, [this] { Change(); });
}

std::string TPortComboBox::Text() const { return currentIndex() < 0 ? std::string() : currentText().toStdString(); }

void TPortComboBox::SetText(const std::string& text) {
  const int index = FindIgnoringCase(*this, text);
  if (index >= 0) setCurrentIndex(index);
}

void TPortComboBox::Change() {
  Select.Choose(Text());
  if (OnChange) OnChange();
}
