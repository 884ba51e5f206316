#include "Targets.h"

#include "Escape.h"
#include "NumberParse.h"

#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace {
constexpr int kMaxBaudRate = 4000000;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool HasControlCharacter(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 32 || c == 127) return true;
  return false;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// "COM" in any letter case and a number from 1 without leading zeros, as the window names ports.
bool IsComName(std::string_view name) {
  if (name.size() < 4 || name.size() > 7 || Lower(name.substr(0, 3)) != "com" || name[3] == '0') return false;
  return ParseWholeNumber(name.substr(3), 1, 9999).has_value();
}

// Four decimal numbers 0-255 joined by dots.
bool IsDottedIPv4(std::string_view host) {
  for (int part = 0; part < 4; ++part) {
    const size_t dot = part < 3 ? host.find('.') : host.size();
    if (dot == std::string_view::npos || dot == 0 || dot > 3 || !ParseWholeNumber(host.substr(0, dot), 0, 255))
      return false;
    host.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return host.empty();
}

std::string ParseSerial(std::string_view rest, TLinkSettings& link) {
  link.Kind = TLinkSettings::TKind::Serial;
  link.BaudRate = 0;
  const size_t at = rest.rfind('@');
  if (at != std::string_view::npos) {
    const std::optional<int> rate = ParseWholeNumber(rest.substr(at + 1), 1, kMaxBaudRate);
    if (!rate) return "the bit rate '" + std::string(rest.substr(at + 1)) + "' is not a number from 1 to 4000000";
    link.BaudRate = *rate;
    rest = rest.substr(0, at);
  }
  if (rest.empty()) return "no serial port given (serial:COM1 or serial:/dev/ttyUSB0)";
  if (!IsComName(rest) && rest.front() != '/')
    return "'" + std::string(rest) + "' is neither a COM name (COM1) nor a device path (/dev/ttyUSB0)";
  link.SerialPort = rest;
  return {};
}

std::string ParseNetwork(std::string_view rest, TLinkSettings::TKind kind, TLinkSettings& link) {
  link.Kind = kind;
  const size_t colon = rest.rfind(':');
  if (colon == std::string_view::npos) return "HOST:PORT expected after the kind";
  const std::string_view host = rest.substr(0, colon);
  const std::string_view port = rest.substr(colon + 1);
  if (host.empty()) return "no host given";
  if (host.find_first_of(": \t") != std::string_view::npos) return "'" + std::string(host) + "' is not a host name or IPv4 address";
  if (kind == TLinkSettings::TKind::Udp && !IsDottedIPv4(host))
    return "a UDP target needs a dotted IPv4 address, not '" + std::string(host) + "'";
  const std::optional<int> number = ParseWholeNumber(port, 1, 65535);
  if (!number) return "the port '" + std::string(port) + "' is not a number from 1 to 65535";
  link.Host = host;
  link.Port = *number;
  return {};
}

std::string ParseLink(std::string_view text, TLinkSettings& link) {
  if (text.starts_with("serial:")) return ParseSerial(text.substr(7), link);
  if (text.starts_with("tcp:")) return ParseNetwork(text.substr(4), TLinkSettings::TKind::Tcp, link);
  if (text.starts_with("udp:")) return ParseNetwork(text.substr(4), TLinkSettings::TKind::Udp, link);
  return "it does not start with serial:, tcp: or udp:";
}

// What makes two targets the same scale: COM names and host names compare without letter case.
std::string ScaleKey(const TLinkSettings& link) {
  switch (link.Kind) {
    case TLinkSettings::TKind::Serial:
      return "serial:" + (IsComName(link.SerialPort) ? Lower(link.SerialPort) : link.SerialPort);
    case TLinkSettings::TKind::Tcp: return "tcp:" + Lower(link.Host) + ":" + std::to_string(link.Port);
    case TLinkSettings::TKind::Udp: return "udp:" + link.Host + ":" + std::to_string(link.Port);
  }
  return {};
}
}  // namespace

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool HasKindPrefix(std::string_view text) {
  return text.starts_with("serial:") || text.starts_with("tcp:") || text.starts_with("udp:");
}

std::string TargetText(const TLinkSettings& link) {
  switch (link.Kind) {
    case TLinkSettings::TKind::Serial:
      return "serial:" + link.SerialPort + (link.BaudRate > 0 ? "@" + std::to_string(link.BaudRate) : "");
    case TLinkSettings::TKind::Tcp: return "tcp:" + link.Host + ":" + std::to_string(link.Port);
    case TLinkSettings::TKind::Udp: return "udp:" + link.Host + ":" + std::to_string(link.Port);
  }
  return {};
}

TTargetParse ParseTarget(std::string_view text) {
  TTargetParse parse;
  const std::string shown = Escaped(text, TEscape::HexControls);
  text = Trimmed(text);
  if (text.empty()) {
    parse.Error = "empty target";
    return parse;
  }
  if (HasControlCharacter(text)) {
    parse.Error = "target '" + shown + "' holds a control character";
    return parse;
  }
  std::string_view name;
  if (!HasKindPrefix(text) && text.find('=') != std::string_view::npos) {
    const size_t equals = text.find('=');
    name = Trimmed(text.substr(0, equals));
    text = Trimmed(text.substr(equals + 1));
    if (name.empty()) {
      parse.Error = "target '" + shown + "' has an empty name before '='";
      return parse;
    }
  }
  const std::string error = ParseLink(text, parse.Target.Link);
  if (!error.empty()) {
    parse.Error = "target '" + shown + "': " + error;
    return parse;
  }
  parse.Target.Text = text;
  parse.Target.Name = name.empty() ? text : name;
  return parse;
}

TTargetsParse ParseTargetsFile(std::string_view text) {
  TTargetsParse parse;
  // Editors that save UTF-8 may put a byte order mark first; it is no part of the first line.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    TTargetParse target = ParseTarget(line);
    if (!target.Error.empty()) {
      parse.Targets.clear();
      parse.Error = "line " + std::to_string(lineNumber) + ": " + target.Error;
      return parse;
    }
    parse.Targets.push_back(std::move(target.Target));
  }
  return parse;
}

std::string DuplicateTargetsError(const std::vector<TTarget>& targets) {
  std::unordered_set<std::string> names;
  std::unordered_map<std::string, std::string> scales;  // scale key -> the first target's name
  for (const TTarget& target : targets) {
    if (!names.insert(target.Name).second) return "two targets are named '" + target.Name + "'";
    const auto [first, added] = scales.emplace(ScaleKey(target.Link), target.Name);
    if (!added) return "'" + first->second + "' and '" + target.Name + "' are the same scale";
  }
  return {};
}
