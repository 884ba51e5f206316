#include "Link.h"

#include "EthernetLink.h"
#include "SerialLink.h"
#include "SerialPort.h"

#include <QMetaObject>

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

void TLink::LoseLater(const std::string& what) {
  QMetaObject::invokeMethod(this, [this, what] { emit Lost(what); }, Qt::QueuedConnection);
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
