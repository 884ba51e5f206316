#pragma once
// Progress on standard error: on a terminal one live line per target, redrawn a few times a
// second; otherwise a plain line per target at its start, at every 10 % and at its end.

#include "ScaleRunner.h"

#include <QObject>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// "4.2s" below a minute, "1m12s", "2h03m04s".
std::string Duration(double seconds);
// A target's end line: "NAME: sent N records in 1m12s", "NAME: failed at record k of N: ...",
// "NAME: failed: busy: ..." (no failure point), "NAME: up to date (sent ... by ...)".
std::string EndLine(const TTargetOutcome& outcome);
// A target's live line: its name padded to `nameWidth`, then where it is.
std::string LiveLine(const std::string& name, size_t nameWidth, const std::string& link, int rows,
                     const TTargetStatus& status);
// The text cut to `columns` characters (UTF-8 sequences count as one).
std::string FitToColumns(const std::string& text, size_t columns);

class TProgress : public QObject {
 public:
  enum class TMode { Live, Plain, Quiet };
  // `status` tells where target i is whenever the progress asks.
  TProgress(TMode mode, FILE* stream, int fd, std::vector<std::string> names, std::vector<std::string> links, int rows,
            std::function<TTargetStatus(size_t)> status);

  void Started(size_t target);
  void Acknowledged(size_t target);
  // `line` is the target's end line: "NAME: sent ..." or "NAME: failed ...".
  void Ended(size_t target, const std::string& line, bool failed);
  // A line that belongs to no target (a notice), above the live lines; also when quiet.
  void Note(const std::string& line);
  // The live lines give way to the end lines; nothing is drawn afterwards.
  void Finish();

 private:
  void Print(const std::string& line);
  void Redraw();

  TMode mode_;
  FILE* stream_;
  int fd_;
  std::vector<std::string> names_;
  std::vector<std::string> links_;
  int rows_;
  std::function<TTargetStatus(size_t)> status_;
  size_t nameWidth_ = 0;
  std::vector<int> printedDecile_;
  std::vector<bool> ended_;
  // Live: end lines not yet drawn above the live block, and the block's height on screen.
  std::vector<std::string> pendingEnds_;
  int drawnLines_ = 0;
  bool dirty_ = false;
  bool finished_ = false;
  QTimer redrawTimer_;
};
