#include "ScalesList.h"

namespace {
bool BlankOrComment(std::string_view line) {
  const size_t first = line.find_first_not_of(" \t\r");
  return first == std::string_view::npos || line[first] == '#';
}
}  // namespace

std::vector<TScalesLine> ParseScalesList(std::string_view text) {
  std::vector<TScalesLine> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    TScalesLine line;
    line.Text = std::string(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!BlankOrComment(line.Text)) {
      TTargetParse parse = ParseTarget(line.Text);
      if (parse.Error.empty()) line.Target = std::move(parse.Target);
      else line.Error = std::move(parse.Error);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string ScalesListText(const std::vector<TScalesLine>& lines) {
  std::string text;
  for (const TScalesLine& line : lines) text += line.Text + "\n";
  return text;
}

TScalesLine ScalesLineOf(const std::string& name, const TLinkSettings& link) {
  const std::string target = TargetText(link);
  TScalesLine line;
  line.Text = name.empty() ? target : name + "=" + target;
  TTargetParse parse = ParseTarget(line.Text);
  if (parse.Error.empty()) line.Target = std::move(parse.Target);
  else line.Error = std::move(parse.Error);
  return line;
}
