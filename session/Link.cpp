#include "Link.h"

#include "Targets.h"

#include <cstdlib>

#include "EthernetLink.h"
#include "QueuedCall.h"
#include "SerialLink.h"
#include "SerialPort.h"

std::string LinkName(const TLinkSettings& settings) { return TargetText(settings); }

std::optional<TLinkSettings> LinkSettingsFromName(const std::string& name) {
  TLinkSettings settings;
  if (name.starts_with("serial:")) {
    const size_t at = name.rfind('@');
    settings.SerialPort = name.substr(7, at == std::string::npos ? std::string::npos : at - 7);
    return settings;
  }
  const size_t colon = name.rfind(':');
  if (colon == std::string::npos || colon < 4) return std::nullopt;
  if (name.starts_with("tcp:")) settings.Kind = TLinkSettings::TKind::Tcp;
  else if (name.starts_with("udp:")) settings.Kind = TLinkSettings::TKind::Udp;
  else return std::nullopt;
  settings.Host = name.substr(4, colon - 4);
  settings.Port = std::atoi(name.c_str() + colon + 1);
  return settings;
}

std::string WireBytes(TLinkSettings::TKind kind, const std::string& command) {
  return kind == TLinkSettings::TKind::Udp ? command + '\0' : command + "\r\n";
}

void TLink::LoseLater(const std::string& what) {
  QueueCall(this, [this, what] { emit Lost(what); });
}

std::unique_ptr<TLink> MakeLink(const TLinkSettings& settings, QObject* parent) {
  switch (settings.Kind) {
    case TLinkSettings::TKind::Serial: {
      std::string settingsFailure;
      std::unique_ptr<TComPort> port = MakeSerialPort(settings, &settingsFailure);
      return std::make_unique<TSerialLink>(std::move(port), std::move(settingsFailure), parent);
    }
    case TLinkSettings::TKind::Tcp: return std::make_unique<TTcpLink>(settings.Host, settings.Port, parent);
    case TLinkSettings::TKind::Udp: return std::make_unique<TUdpLink>(settings.Host, settings.Port, parent);
  }
  return nullptr;
}
