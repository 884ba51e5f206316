#include "SerialLink.h"

#include "PortNames.h"
#include "PortSurvey.h"
#include "SerialPort.h"

#include <cstring>
#include <exception>

namespace {
// The section the window keeps its port's settings under.
const char kSettingsSection[] = "ComPort1";

// The system's words for a failed call, else the port's own message.
std::string SerialCause(const EComPort& error) {
  return error.SystemCode() > 0 ? std::strerror(error.SystemCode()) : error.what();
}

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

std::string SendSerialCommand(TComPort& port, const std::string& command) {
  if (!port.Connected()) return {};
  try {
    port.WriteText(WireBytes(TLinkSettings::TKind::Serial, command));
  } catch (const EComPort& error) {
    return "The command could not be sent to " + port.Port() + ": " + SerialCause(error);
  }
  return {};
}

TSerialRead ReadSerialText(TComPort& port, int count) {
  TSerialRead read;
  try {
    port.ReadText(read.Text, count);
  } catch (const EComPort& error) {
    read.Text.clear();
    read.Failure = "The scale's answer could not be read from " + port.Port() + ": " + SerialCause(error);
  }
  return read;
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

TSerialLink::TSerialLink(std::unique_ptr<TComPort> port, QObject* parent)
    : TSerialLink(std::move(port), std::string(), parent) {}

TSerialLink::TSerialLink(std::unique_ptr<TComPort> port, std::string settingsFailure, QObject* parent)
    : TLink(parent), port_(std::move(port)), settingsFailure_(std::move(settingsFailure)) {
  port_->OnRxChar = [this](TCustomComPort&, int count) {
    const TSerialRead read = ReadSerialText(*port_, count);
    if (!read.Failure.empty()) emit Lost(read.Failure);
    if (!read.Text.empty()) emit TextReceived(read.Text);
  };
  // Told first, so the transfer fails for the device rather than for a closed link.
  port_->OnDeviceLost = [this](TCustomComPort&) {
    emit Lost(kSerialDeviceGoneText);
    Close();
  };
}

TSerialLink::~TSerialLink() { ClosePortQuietly(*port_); }

std::unique_ptr<TComPort> MakeSerialPort(const TLinkSettings& settings, std::string* settingsFailure) {
  auto port = std::make_unique<TNamedOrPathPort>();
  port->setObjectName(kSettingsSection);
  port->SetSavedGroups(StoredProp(sgBasic));
  if (!settings.SerialSettingsFile.empty()) {
    try {
      port->RestoreSettings(stIniFile, settings.SerialSettingsFile);
    } catch (const EComPort& error) {
      // Whatever could not be read keeps its default.
      if (settingsFailure)
        *settingsFailure = "The serial settings could not be read from " + settings.SerialSettingsFile + ": " +
                           error.what() + ".";
    }
  }
  if (!settings.SerialPort.empty()) port->SetPort(settings.SerialPort);
  if (settings.BaudRate > 0) SetBitsPerSecond(*port, settings.BaudRate);
  return port;
}

void TSerialLink::Open() {
  if (!settingsFailure_.empty()) {
    emit Failed(settingsFailure_);
    return;
  }
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

// Closed when the transfer has ended or the device went away: no one waits for a failure here.
void TSerialLink::Close() {
  ClosePortQuietly(*port_);
  emit StateChanged(State());
}

void TSerialLink::Send(const std::string& command) {
  if (std::string failure = SendSerialCommand(*port_, command); !failure.empty()) LoseLater(failure);
}

LinkState TSerialLink::State() const { return port_->Connected() ? lsConnected : lsDisconnected; }

std::string TSerialLink::Name() const { return SerialLinkName(*port_); }
