#include "ScaleKey.h"

#include "PortNames.h"
#include "PortSurvey.h"
#include "SocketLayer.h"
#include "UDPServer.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace {
std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The address a TCP link connects to; the name itself when it cannot be resolved now.
std::string TcpAddress(const std::string& host) {
  const SocketLayer::TLookupResult found = SocketLayer::ResolveIPv4(host);
  return found.ErrorCode == 0 ? SocketLayer::DottedText(found.Address) : Lower(host);
}

// A UDP link reads its address part by part as decimal numbers, as it sends.
std::string UdpAddress(const std::string& host) {
  const uint32_t address = DottedAddressOrZero(host);
  return address != 0 ? SocketLayer::DottedText(address) : host;
}

std::string SerialDevice(const std::string& port, const std::string& devRoot) {
  const std::string device = NamedOrPathDevice(port);
  return device.empty() ? port : StableDeviceName(device, devRoot);
}
}  // namespace

std::string ScaleKeyOf(const TLinkSettings& link, const std::string& devRoot) {
  switch (link.Kind) {
    case TLinkSettings::TKind::Serial: return "serial:" + SerialDevice(link.SerialPort, devRoot);
    case TLinkSettings::TKind::Tcp: return "tcp:" + TcpAddress(link.Host) + ":" + std::to_string(link.Port);
    case TLinkSettings::TKind::Udp: return "udp:" + UdpAddress(link.Host) + ":" + std::to_string(link.Port);
  }
  return {};
}

std::string ResolveScaleKeys(std::vector<TTarget>& targets) {
  std::map<std::string, std::string> named;
  for (TTarget& target : targets) {
    target.Key = ScaleKeyOf(target.Link);
    const auto [first, added] = named.emplace(target.Key, target.Name);
    if (!added) return "'" + first->second + "' and '" + target.Name + "' are the same scale (" + target.Key + ")";
  }
  return {};
}
