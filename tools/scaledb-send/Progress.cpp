#include "Progress.h"

#include "System.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kRedrawMs = 250;
constexpr size_t kMaxNameWidth = 24;

std::string OneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// "0:15", "12:03", "1:02:03".
std::string Clock(double seconds) {
  const long total = std::lround(std::max(seconds, 0.0));
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

size_t CharacterCount(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Padded(const std::string& name, size_t width) {
  const std::string fitted = FitToColumns(name, width);
  return fitted + std::string(width - CharacterCount(fitted), ' ');
}
}  // namespace

std::string Duration(double seconds) {
  if (seconds < 59.95) return OneDecimal(std::max(seconds, 0.0)) + "s";
  const long total = std::lround(seconds);
  char text[32];
  if (total < 3600)
    std::snprintf(text, sizeof text, "%ldm%02lds", total / 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%ldh%02ldm%02lds", total / 3600, total / 60 % 60, total % 60);
  return text;
}

std::string EndLine(const TTargetOutcome& outcome) {
  const TTransferRecord& record = outcome.Record;
  if (record.Result == TTransferResult::Current) return outcome.Name + ": " + record.Reason;
  if (record.Result == TTransferResult::Sent)
    return outcome.Name + ": sent " + std::to_string(record.RecordsSent) + " records in " + Duration(record.Seconds);
  const std::string point = outcome.FailurePoint.empty() ? "" : " " + outcome.FailurePoint;
  return outcome.Name + ": failed" + point + ": " + record.Reason;
}

std::string FitToColumns(const std::string& text, size_t columns) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((text[i] & 0xC0) == 0x80) continue;
    if (characters++ == columns) return text.substr(0, i);
  }
  return text;
}

std::string LiveLine(const std::string& name, size_t nameWidth, const std::string& link, int rows,
                     const TTargetStatus& status) {
  const std::string head = Padded(name, nameWidth) + "  ";
  if (status.Phase == TTargetStatus::TPhase::Connecting) return head + "connecting to " + link;
  std::string line = head + std::to_string(status.Acknowledged) + "/" + std::to_string(rows) + " records";
  if (status.Acknowledged == 0 || status.Seconds <= 0) return line;
  const double rate = status.Acknowledged / status.Seconds;
  line += "  " + OneDecimal(rate) + "/s";
  return line + "  " + Clock((rows - status.Acknowledged) / rate) + " left";
}

TProgress::TProgress(TMode mode, FILE* stream, int fd, std::vector<std::string> names, std::vector<std::string> links,
                     int rows, std::function<TTargetStatus(size_t)> status)
    : mode_(mode),
      stream_(stream),
      fd_(fd),
      names_(std::move(names)),
      links_(std::move(links)),
      rows_(rows),
      status_(std::move(status)),
      printedDecile_(names_.size(), 0),
      ended_(names_.size(), false) {
  for (const std::string& name : names_) nameWidth_ = std::max(nameWidth_, std::min(CharacterCount(name), kMaxNameWidth));
  if (mode_ != TMode::Live) return;
  connect(&redrawTimer_, &QTimer::timeout, this, [this] {
    if (dirty_) Redraw();
  });
  redrawTimer_.start(kRedrawMs);
  dirty_ = true;
}

void TProgress::Print(const std::string& line) {
  std::fputs((line + "\n").c_str(), stream_);
  std::fflush(stream_);
}

void TProgress::Started(size_t target) {
  if (mode_ == TMode::Plain)
    Print(names_[target] + ": sending " + std::to_string(rows_) + " records to " + links_[target]);
  dirty_ = true;
}

void TProgress::Acknowledged(size_t target) {
  dirty_ = true;
  if (mode_ != TMode::Plain || rows_ <= 0) return;
  const int acknowledged = status_(target).Acknowledged;
  const int decile = static_cast<int>(static_cast<long long>(acknowledged) * 10 / rows_);
  if (decile <= printedDecile_[target] || decile >= 10) return;
  printedDecile_[target] = decile;
  Print(names_[target] + ": " + std::to_string(acknowledged) + "/" + std::to_string(rows_) + " records (" +
        std::to_string(decile * 10) + "%)");
}

void TProgress::Ended(size_t target, const std::string& line, bool failed) {
  ended_[target] = true;
  switch (mode_) {
    case TMode::Quiet:
      if (failed) Print(line);
      break;
    case TMode::Plain: Print(line); break;
    case TMode::Live:
      pendingEnds_.push_back(line);
      Redraw();
      break;
  }
}

void TProgress::Note(const std::string& line) {
  if (mode_ != TMode::Live || finished_) {
    Print(line);
    return;
  }
  pendingEnds_.push_back(line);
  Redraw();
}

void TProgress::Finish() {
  if (mode_ == TMode::Live && !finished_) {
    finished_ = true;
    redrawTimer_.stop();
    Redraw();
  }
}

// Moves up over the live block, writes the new end lines where it was and the live lines below
// them, and clears what is left of the old block: one write, so the screen never shows half.
void TProgress::Redraw() {
  dirty_ = false;
  const TTerminalSize size = TerminalSize(fd_);
  const size_t columns = static_cast<size_t>(std::max(size.Columns - 1, 10));
  const size_t maxLive = static_cast<size_t>(std::max(size.Rows - 2, 2));
  std::string screen;
  if (drawnLines_ > 0) screen += "\r\x1b[" + std::to_string(drawnLines_) + "A";
  for (const std::string& line : pendingEnds_) screen += "\x1b[K" + line + "\n";
  pendingEnds_.clear();
  std::vector<size_t> running;
  for (size_t target = 0; target < names_.size() && !finished_; ++target)
    if (!ended_[target]) running.push_back(target);
  const size_t shown = running.size() > maxLive ? maxLive - 1 : running.size();
  for (size_t i = 0; i < shown; ++i) {
    const size_t target = running[i];
    const std::string line = LiveLine(names_[target], nameWidth_, links_[target], rows_, status_(target));
    screen += "\x1b[K" + FitToColumns(line, columns) + "\n";
  }
  if (shown < running.size()) screen += "\x1b[K... and " + std::to_string(running.size() - shown) + " more\n";
  drawnLines_ = static_cast<int>(std::min(running.size(), maxLive));
  screen += "\x1b[J";
  std::fwrite(screen.data(), 1, screen.size(), stream_);
  std::fflush(stream_);
}
