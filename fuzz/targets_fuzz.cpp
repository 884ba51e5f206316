// The targets of scaledb-send against a plain reading of their rules. The whole input is read
// three ways: as one target, as a --targets file, and as a command line of one word per line.
// A parse gives an error in words or targets whose links, written out again, read back the same.

#include "Options.h"
#include "Targets.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool Control(char c) { return static_cast<unsigned char>(c) < 32 || c == 127; }

std::string Trim(std::string text) {
  while (!text.empty() && Blank(text.front())) text.erase(0, 1);
  while (!text.empty() && Blank(text.back())) text.pop_back();
  return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool HasKind(const std::string& text) {
  return StartsWith(text, "serial:") || StartsWith(text, "tcp:") || StartsWith(text, "udp:");
}

// Decimal digits only (leading zeros allowed) with a value within [low, high].
std::optional<int> Decimal(const std::string& text, int low, int high) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > high) return std::nullopt;
  }
  if (value < low) return std::nullopt;
  return static_cast<int>(value);
}

bool ComName(const std::string& name) {
  if (name.size() < 4 || name.size() > 7) return false;
  for (int i = 0; i < 3; ++i)
    if ((name[i] | 0x20) != "com"[i]) return false;
  return name[3] != '0' && Decimal(name.substr(3), 1, 9999).has_value();
}

bool DottedIPv4(const std::string& host) {
  std::vector<std::string> parts(1);
  for (const char c : host) {
    if (c == '.') parts.emplace_back();
    else parts.back() += c;
  }
  if (parts.size() != 4) return false;
  for (const std::string& part : parts)
    if (part.size() > 3 || !Decimal(part, 0, 255)) return false;
  return true;
}

struct TReference {
  bool Good = false;
  std::string Name;
  std::string Text;
  TLinkSettings Link;
};

bool ReferenceLink(const std::string& text, TLinkSettings& link) {
  if (StartsWith(text, "serial:")) {
    std::string port = text.substr(7);
    link.Kind = TLinkSettings::TKind::Serial;
    link.BaudRate = 0;
    const size_t at = port.rfind('@');
    if (at != std::string::npos) {
      const std::optional<int> rate = Decimal(port.substr(at + 1), 1, 4000000);
      if (!rate) return false;
      link.BaudRate = *rate;
      port.erase(at);
    }
    if (port.empty() || !(ComName(port) || port[0] == '/')) return false;
    link.SerialPort = port;
    return true;
  }
  const bool udp = StartsWith(text, "udp:");
  if (!udp && !StartsWith(text, "tcp:")) return false;
  link.Kind = udp ? TLinkSettings::TKind::Udp : TLinkSettings::TKind::Tcp;
  const std::string rest = text.substr(4);
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = rest.substr(0, colon);
  if (host.empty() || host.find_first_of(": \t") != std::string::npos) return false;
  if (udp && !DottedIPv4(host)) return false;
  const std::optional<int> port = Decimal(rest.substr(colon + 1), 1, 65535);
  if (!port) return false;
  link.Host = host;
  link.Port = *port;
  return true;
}

TReference Reference(const std::string& input) {
  TReference reference;
  std::string text = Trim(input);
  for (const char c : text)
    if (Control(c)) return reference;
  const size_t equals = text.find('=');
  if (!HasKind(text) && equals != std::string::npos) {
    reference.Name = Trim(text.substr(0, equals));
    text = Trim(text.substr(equals + 1));
    if (reference.Name.empty()) return reference;
  }
  if (text.empty() || !ReferenceLink(text, reference.Link)) return reference;
  reference.Text = text;
  if (reference.Name.empty()) reference.Name = text;
  reference.Good = true;
  return reference;
}

bool SameLink(const TLinkSettings& a, const TLinkSettings& b) {
  if (a.Kind != b.Kind) return false;
  if (a.Kind == TLinkSettings::TKind::Serial) return a.SerialPort == b.SerialPort && a.BaudRate == b.BaudRate;
  return a.Host == b.Host && a.Port == b.Port;
}

// The link written as a target again, in its shortest form.
std::string Written(const TLinkSettings& link) {
  switch (link.Kind) {
    case TLinkSettings::TKind::Serial:
      return "serial:" + link.SerialPort + (link.BaudRate ? "@" + std::to_string(link.BaudRate) : "");
    case TLinkSettings::TKind::Tcp: return "tcp:" + link.Host + ":" + std::to_string(link.Port);
    case TLinkSettings::TKind::Udp: return "udp:" + link.Host + ":" + std::to_string(link.Port);
  }
  return {};
}

bool InWords(const std::string& error) {
  if (error.empty() || error.find(' ') == std::string::npos) return false;
  for (const char c : error)
    if (Control(c)) return false;
  return true;
}

bool Named(const TTarget& target) { return target.Name != target.Text; }

void CheckRewritten(const TTarget& target) {
  const TTargetParse again = ParseTarget(Written(target.Link));
  Check(again.Error.empty() && SameLink(again.Target.Link, target.Link));
  if (!Named(target)) return;
  const TTargetParse named = ParseTarget(target.Name + "=" + Written(target.Link));
  Check(named.Error.empty() && named.Target.Name == target.Name && SameLink(named.Target.Link, target.Link));
}

void CheckTarget(const std::string& text) {
  const TTargetParse parse = ParseTarget(text);
  const TReference reference = Reference(text);
  Check(parse.Error.empty() == reference.Good);
  if (!reference.Good) {
    Check(InWords(parse.Error));
    return;
  }
  Check(parse.Target.Name == reference.Name && parse.Target.Text == reference.Text);
  Check(SameLink(parse.Target.Link, reference.Link));
  CheckRewritten(parse.Target);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (const char c : text) {
    if (c == '\n') lines.emplace_back();
    else lines.back() += c;
  }
  return lines;
}

void CheckTargetsFile(const std::string& text) {
  const TTargetsParse parse = ParseTargetsFile(text);
  std::vector<TReference> expected;
  int lineNumber = 0;
  const std::string withoutMark = StartsWith(text, "\xEF\xBB\xBF") ? text.substr(3) : text;
  for (const std::string& raw : Lines(withoutMark)) {
    ++lineNumber;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    const TReference reference = Reference(line);
    if (!reference.Good) {
      Check(parse.Targets.empty() && StartsWith(parse.Error, "line " + std::to_string(lineNumber) + ": "));
      Check(InWords(parse.Error));
      return;
    }
    expected.push_back(reference);
  }
  Check(parse.Error.empty() && parse.Targets.size() == expected.size());
  // A name may begin with the bytes of a byte order mark, which only the very start of a list
  // drops: the rewritten list starts with a comment.
  std::string rewritten = "#\n";
  for (size_t i = 0; i < expected.size(); ++i) {
    const TTarget& target = parse.Targets[i];
    Check(target.Name == expected[i].Name && SameLink(target.Link, expected[i].Link));
    rewritten += (Named(target) ? target.Name + "=" : "") + Written(target.Link) + "\n";
  }
  const TTargetsParse again = ParseTargetsFile(rewritten);
  Check(again.Error.empty() && again.Targets.size() == parse.Targets.size());
  for (size_t i = 0; i < again.Targets.size(); ++i) {
    const TTarget& target = parse.Targets[i];
    Check(again.Targets[i].Name == (Named(target) ? target.Name : Written(target.Link)));
    Check(SameLink(again.Targets[i].Link, target.Link));
  }

  const std::string duplicates = DuplicateTargetsError(parse.Targets);
  for (size_t i = 0; i < parse.Targets.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (parse.Targets[i].Name == parse.Targets[j].Name) Check(!duplicates.empty());
}

// The words walked as the usage text describes them, without reading the option values: the
// file and the targets, or nothing when the words cannot be a command line.
struct TWalk {
  bool Good = true;
  std::string File;
  std::vector<TReference> Targets;
};

bool NamesALink(const std::string& word) {
  const size_t equals = word.find('=');
  const std::string link = equals == std::string::npos ? word : word.substr(equals + 1);
  return link.starts_with("serial:") || link.starts_with("tcp:") || link.starts_with("udp:");
}

// After --status a word that names a link is a target wherever it stands; a first word that
// names one, given before --status, is taken for one at the end.
TWalk Walk(const std::vector<std::string>& words) {
  TWalk walk;
  bool optionsEnded = false;
  bool ports = false;
  bool status = false;
  for (size_t i = 0; i < words.size() && walk.Good; ++i) {
    const std::string& word = words[i];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
      const size_t equals = word.find('=');
      const std::string option = word.substr(0, equals);
      const TSendOption* known = FindSendOption(option);
      if (known && known->TakesValue) {
        // --json before another option writes to standard output; so does a last --json after
        // --ports or --status.
        const bool beforeOption = i + 1 < words.size() && FindSendOption(words[i + 1].substr(0, words[i + 1].find('=')));
        if (option == "--json" && equals == std::string::npos && beforeOption) continue;
        if (equals == std::string::npos && ++i == words.size()) walk.Good = (ports || status) && option == "--json";
      } else {
        walk.Good = equals == std::string::npos && known;
        ports = ports || option == "--ports";
        status = status || option == "--status";
      }
    } else if (status && NamesALink(word)) {
      walk.Targets.push_back(Reference(word));
      walk.Good = walk.Targets.back().Good;
    } else if (walk.File.empty()) {
      walk.File = word;
      walk.Good = !word.empty();
    } else {
      walk.Targets.push_back(Reference(word));
      walk.Good = walk.Targets.back().Good;
    }
  }
  if (walk.Good && status && NamesALink(walk.File) && Reference(walk.File).Good) {
    walk.Targets.insert(walk.Targets.begin(), Reference(walk.File));
    walk.File.clear();
  }
  return walk;
}

void CheckCommandLine(const std::string& text) {
  const std::vector<std::string> words = Lines(text);
  const TCommandLine line = ParseCommandLine(words);
  const TWalk walk = Walk(words);
  if (!walk.Good) Check(!line.Error.empty());
  if (!line.Error.empty()) return;
  const TSendOptions& options = line.Options;
  Check(walk.Good && options.File == walk.File && options.Targets.size() == walk.Targets.size());
  Check(!options.File.empty() || options.Help || options.Version || options.Ports || options.Status);
  for (size_t i = 0; i < walk.Targets.size(); ++i) {
    Check(options.Targets[i].Name == walk.Targets[i].Name);
    Check(SameLink(options.Targets[i].Link, walk.Targets[i].Link));
  }
  Check(options.PaceMs >= 1 && options.PaceMs <= 3600 * 1000);
  Check(options.AnswerTimeoutMs >= 0 && options.AnswerTimeoutMs <= 24 * 3600 * 1000);
  Check(options.Retries >= 0 && options.Retries <= 1000000);
  Check(options.UdpLocalPort >= 1 && options.UdpLocalPort <= 65535);
  Check(options.KindPosition >= 0 && options.KindPosition <= 2);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckTarget(text);
  CheckTargetsFile(text);
  CheckCommandLine(text);
  return 0;
}
