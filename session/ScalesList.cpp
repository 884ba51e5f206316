#include "ScalesList.h"

#include "NumberParse.h"

namespace {
const std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool BlankOrComment(std::string_view line) {
  const std::string_view text = Trimmed(line);
  return text.empty() || text.front() == '#';
}

void ParseLine(TScalesLine& line) {
  if (BlankOrComment(line.Text)) return;
  TTargetParse parse = ParseTarget(line.Text);
  if (parse.Error.empty()) line.Target = std::move(parse.Target);
  else line.Error = std::move(parse.Error);
}
}  // namespace

TScalesList ParseScalesList(std::string_view text) {
  TScalesList list;
  // Editors that save UTF-8 may put one first; the first scale's name would carry it unseen.
  list.ByteOrderMark = text.starts_with(kByteOrderMark);
  if (list.ByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  while (!text.empty()) {
    const size_t end = text.find('\n');
    TScalesLine line;
    line.Text = std::string(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ParseLine(line);
    list.Lines.push_back(std::move(line));
  }
  return list;
}

std::string ScalesListText(const TScalesList& list) {
  std::string text(list.ByteOrderMark ? kByteOrderMark : std::string_view());
  for (const TScalesLine& line : list.Lines) text += line.Text + "\n";
  return text;
}

TScalesLine ScalesLineOf(const std::string& name, const TLinkSettings& link) {
  const std::string target = TargetText(link);
  TScalesLine line;
  line.Text = name.empty() ? target : name + "=" + target;
  ParseLine(line);
  return line;
}

std::string ScaleNameError(std::string_view name) {
  if (name.empty()) return "the scale needs a name";
  if (name.front() == '#') return "a name cannot start with '#': the list would read the line as a comment";
  if (name.find('=') != std::string_view::npos) return "a name cannot hold '=': the list ends the name there";
  if (name.find_first_of(" \t") != std::string_view::npos) return "a name cannot hold spaces or tabs";
  if (HasKindPrefix(name))
    return "a name cannot start with serial:, tcp: or udp:: the list would read the line as a target without a name";
  return {};
}

TTarget DraftOfLine(std::string_view text) {
  TTarget draft;
  text = Trimmed(text);
  if (const size_t equals = text.find('='); equals != std::string_view::npos && !HasKindPrefix(text)) {
    draft.Name = Trimmed(text.substr(0, equals));
    text = Trimmed(text.substr(equals + 1));
  }
  TLinkSettings& link = draft.Link;
  if (text.starts_with("serial:")) {
    link.Kind = TLinkSettings::TKind::Serial;
    text.remove_prefix(7);
    const size_t at = text.rfind('@');
    if (at != std::string_view::npos) link.BaudRate = ParseWholeNumber(text.substr(at + 1), 1, 4000000).value_or(0);
    link.SerialPort = text.substr(0, at);
    return draft;
  }
  link.Kind = text.starts_with("udp:") ? TLinkSettings::TKind::Udp : TLinkSettings::TKind::Tcp;
  if (HasKindPrefix(text)) {
    text.remove_prefix(4);
    const size_t colon = text.rfind(':');
    if (colon != std::string_view::npos) {
      link.Port = ParseWholeNumber(text.substr(colon + 1), 1, 65535).value_or(0);
      text = text.substr(0, colon);
    }
  }
  link.Host = text;
  return draft;
}
