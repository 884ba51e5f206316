#include "SerialLink.h"

#include "SerialPort.h"

#include <exception>

void SendSerialCommand(TComPort& port, const std::string& command) {
  if (!port.Connected()) return;
  try {
    port.WriteText(command + "\r\n");
  } catch (...) {
  }
}

std::string ReadSerialText(TComPort& port, int count) {
  std::string text;
  try {
    port.ReadText(text, count);
  } catch (...) {
    return {};
  }
  return text;
}

std::string SerialLinkName(const TComPort& port) {
  TLinkSettings settings;
  settings.SerialPort = port.Port();
  settings.BaudRate = port.BaudRate() == brCustom ? port.CustomBaudRate() : BaudRateValue(port.BaudRate());
  return LinkName(settings);
}

void SetBitsPerSecond(TComPort& port, int rate) {
  for (int named = br110; named <= br256000; ++named) {
    if (BaudRateValue(static_cast<TBaudRate>(named)) == rate) {
      port.SetBaudRate(static_cast<TBaudRate>(named));
      return;
    }
  }
  port.SetCustomBaudRate(rate);
  port.SetBaudRate(brCustom);
}

TSerialLink::TSerialLink(std::unique_ptr<TComPort> port, QObject* parent) : TLink(parent), port_(std::move(port)) {
  port_->OnRxChar = [this](TCustomComPort&, int count) {
    const std::string text = ReadSerialText(*port_, count);
    if (!text.empty()) emit TextReceived(text);
  };
}

TSerialLink::~TSerialLink() {
  try {
    port_->ClosePort();
  } catch (...) {
  }
}

void TSerialLink::Open() {
  try {
    port_->OpenPort();
  } catch (const std::exception& error) {
    emit Failed(error.what());
    return;
  }
  emit StateChanged(State());
}

void TSerialLink::Close() {
  try {
    port_->ClosePort();
  } catch (...) {
  }
  emit StateChanged(State());
}

void TSerialLink::Send(const std::string& command) { SendSerialCommand(*port_, command); }

LinkState TSerialLink::State() const { return port_->Connected() ? 2 : 0; }

std::string TSerialLink::Name() const { return SerialLinkName(*port_); }
