#include "Link.h"

#include "EthernetLink.h"
#include "SerialLink.h"
#include "SerialPort.h"

std::string LinkName(const TLinkSettings& settings) {
  switch (settings.Kind) {
    case TLinkSettings::TKind::Serial:
      return "serial:" + settings.SerialPort + (settings.BaudRate > 0 ? "@" + std::to_string(settings.BaudRate) : "");
    case TLinkSettings::TKind::Tcp: return "tcp:" + settings.Host + ":" + std::to_string(settings.Port);
    case TLinkSettings::TKind::Udp: return "udp:" + settings.Host + ":" + std::to_string(settings.Port);
  }
  return {};
}

std::string WireBytes(TLinkSettings::TKind kind, const std::string& command) {
  return kind == TLinkSettings::TKind::Udp ? command + '\0' : command + "\r\n";
}

std::unique_ptr<TLink> MakeLink(const TLinkSettings& settings, QObject* parent) {
  switch (settings.Kind) {
    case TLinkSettings::TKind::Serial: return std::make_unique<TSerialLink>(MakeSerialPort(settings), parent);
    case TLinkSettings::TKind::Tcp: return std::make_unique<TTcpLink>(settings.Host, settings.Port, parent);
    case TLinkSettings::TKind::Udp: return std::make_unique<TUdpLink>(settings.Host, settings.Port, parent);
  }
  return nullptr;
}
