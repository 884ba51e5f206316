#include "SerialLink.h"

#include "PortNames.h"
#include "SerialPort.h"

#include <cerrno>
#include <cstring>
#include <exception>

namespace {
// The section the window keeps its port's settings under.
const char kSettingsSection[] = "ComPort1";

// A port that also opens a device named by its path.
class TNamedOrPathPort : public TComPort {
 protected:
  std::string DevicePath() const override { return NamedOrPathDevice(Port()); }
};

// Why the port did not open, in words after the port's own message.
std::string OpenFailureText(const TComPort& port, const EComPort& error) {
  if (error.Code() != 1) return error.what();
  const std::string device = NamedOrPathDevice(port.Port());
  const std::string name = device.empty() || device == port.Port() ? port.Port() : port.Port() + " (" + device + ")";
  std::string words;
  switch (error.SystemCode()) {
    case ENOENT: words = name + " does not exist"; break;
    case EBUSY:
    case EAGAIN: words = name + " is in use by another program"; break;
    case EACCES:
    case EPERM: words = "no permission to open " + name + " (is the user in the dialout group?)"; break;
    default: words = name + ": " + std::strerror(error.SystemCode()); break;
  }
  return std::string(error.what()) + ": " + words + ".";
}
}  // namespace

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
    emit Failed(OpenFailureText(*port_, error));
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
