#pragma once
// A drop-down list bound to one setting of one serial port.

#include "SerialPort.h"

#include <QComboBox>
#include <QMetaObject>

#include <functional>
#include <string>

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The list's binding: the linked port, the setting kind and the value chosen for it, which
// reaches the port only through ApplyToPort.
class TPortSelect {
 public:
  TPortSelect() = default;
  ~TPortSelect();
  TPortSelect(const TPortSelect&) = delete;
  TPortSelect& operator=(const TPortSelect&) = delete;

  // The combo box whose items this binding fills and selects.
  void Attach(QComboBox& items) { items_ = &items; }

  TCustomComPort* ComPort() const { return port_; }
  void SetComPort(TCustomComPort* port);
  TComProperty ComProperty() const { return kind_; }
  void SetComProperty(TComProperty kind);
  bool AutoApply() const { return autoApply_; }
  void SetAutoApply(bool on) { autoApply_ = on; }

  void UpdateFromPort();
  void ApplyToPort();
  // The operator chose `text`: it becomes the value for the kind.
  void Choose(const std::string& text);

 private:
  void Fill();
  std::string PortValueText() const;
  void TakeValue(const std::string& text);
  void PortDestroyed();

  QComboBox* items_ = nullptr;
  TCustomComPort* port_ = nullptr;
  QMetaObject::Connection portWatch_;
  TComProperty kind_ = cpNone;
  bool autoApply_ = false;
  std::string pendingPort_;
  TBaudRate pendingBaudRate_ = brCustom;
  TDataBits pendingDataBits_ = dbFive;
  TStopBits pendingStopBits_ = sbOneStopBit;
  TParityBits pendingParity_ = prNone;
  TFlowControl pendingFlowControl_ = fcHardware;
};

namespace detail {
// Holds the binding ahead of the combo box base, so it is built before and outlives its state.
struct TPortSelectHolder {
  TPortSelect Select;
};
}  // namespace detail

class TPortComboBox : private detail::TPortSelectHolder, public QComboBox {
 public:
  explicit TPortComboBox(QWidget* parent = nullptr);

  TCustomComPort* ComPort() const { return Select.ComPort(); }
  void SetComPort(TCustomComPort* port) { Select.SetComPort(port); }
  TComProperty ComProperty() const { return Select.ComProperty(); }
  void SetComProperty(TComProperty kind) { Select.SetComProperty(kind); }
  bool AutoApply() const { return Select.AutoApply(); }
  void SetAutoApply(bool on) { Select.SetAutoApply(on); }
  void UpdateFromPort() { Select.UpdateFromPort(); }
  void ApplyToPort() { Select.ApplyToPort(); }

  // The selected item's text; empty when nothing is selected.
  std::string Text() const;
  // Selects the first item equal to `text` regardless of case; nothing changes when there is none.
  void SetText(const std::string& text);

  // Runs after the operator's choice has become the pending value.
  std::function<void()> OnChange;

 private:
  void Change();
};
