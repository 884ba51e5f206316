#include "SerialLink.h"

#include "PortNames.h"
#include "PortSurvey.h"
#include "SerialPort.h"

#include <exception>

namespace {
// The section the window keeps its port's settings under.
const char kSettingsSection[] = "ComPort1";

// A port that also opens a device named by its path.
class TNamedOrPathPort : public TComPort {
 protected:
  std::string DevicePath() const override { return NamedOrPathDevice(Port()); }
};
}  // namespace

const char kSerialDeviceGoneText[] = "The serial device went away";

std::string SerialOpenDiagnosis(const std::string& port, const std::string& device, const EComPort& error) {
  if (error.Code() != 1 || error.SystemCode() < 0) return {};
  return device.empty() ? port + " does not exist." : DiagnoseOpenFailure(device, error.SystemCode());
}

std::string SerialOpenFailureText(const std::string& port, const std::string& device, const EComPort& error) {
  const std::string diagnosis = SerialOpenDiagnosis(port, device, error);
  return diagnosis.empty() ? error.what() : std::string(error.what()) + ": " + diagnosis;
}

void SendSerialCommand(TComPort& port, const std::string& command) {
  if (!port.Connected()) return;
  try {
    port.WriteText(WireBytes(TLinkSettings::TKind::Serial, command));
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
  // Told first, so the transfer fails for the device rather than for a closed link.
  port_->OnDeviceLost = [this](TCustomComPort&) {
    emit Lost(kSerialDeviceGoneText);
    Close();
  };
}

TSerialLink::~TSerialLink() {
  try {
    port_->ClosePort();
  } catch (...) {
  }
}

std::unique_ptr<TComPort> MakeSerialPort(const TLinkSettings& settings) {
  auto port = std::make_unique<TNamedOrPathPort>();
  port->setObjectName(kSettingsSection);
  port->SetSavedGroups(StoredProp(sgBasic));
  if (!settings.SerialSettingsFile.empty()) {
    try {
      port->RestoreSettings(stIniFile, settings.SerialSettingsFile);
    } catch (...) {
      // Whatever could not be read keeps its default.
    }
  }
  if (!settings.SerialPort.empty()) port->SetPort(settings.SerialPort);
  if (settings.BaudRate > 0) SetBitsPerSecond(*port, settings.BaudRate);
  return port;
}

void TSerialLink::Open() {
  try {
    port_->OpenPort();
  } catch (const EComPort& error) {
    emit Failed(SerialOpenFailureText(port_->Port(), NamedOrPathDevice(port_->Port()), error));
    return;
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
