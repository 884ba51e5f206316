#pragma once
// The command line of scaledb-send. A pure function over the words: files are read later.

#include "Targets.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

struct TSendOptions {
  std::string File;
  std::vector<TTarget> Targets;           // those given on the command line
  std::vector<std::string> TargetsFiles;  // --targets, in the order given
  std::string Kind = "products";
  int KindPosition = 0;  // the position of Kind in kDatabaseKinds (ScaleCommands.h)
  int PaceMs = 100;
  int AnswerTimeoutMs = 15000;  // 0: no limit
  int Retries = 5;
  int UdpLocalPort = 1001;
  std::string Encoding;  // the scales' code page; empty sends the file's bytes as they are
  bool Transliterate = false;
  bool Check = false;
  bool DryRun = false;
  std::string JsonPath;  // empty: no report; "-": standard output
  std::string MetricsPath;  // --metrics: the Prometheus text file written after a send; empty: none
  bool Quiet = false;
  bool Ports = false;  // --ports: list the serial devices, send nothing
  bool OnlyChanged = false;  // a target whose scale holds this file already is not contacted
  bool Status = false;       // --status: what each scale holds, from the ledger; sends nothing
  std::string StateDir;      // --state-dir: the ledger and the history there; empty: the usual place
  bool Help = false;
  bool Version = false;
};

struct TCommandLine {
  TSendOptions Options;
  std::string Error;  // a usage error in words; empty when the words are good
};

// The words after the program name.
TCommandLine ParseCommandLine(const std::vector<std::string>& words);

// One option of the command line: its name, and whether a value follows it (as the next word or
// after '=').
struct TSendOption {
  std::string_view Name;
  bool TakesValue;
};
// Every option, in the order the usage text lists them.
std::span<const TSendOption> SendOptions();
// The option of that name; none for another word.
const TSendOption* FindSendOption(std::string_view name);

extern const char kSendUsage[];
