#include "Options.h"

#include "NumberParse.h"
#include "ScaleCommands.h"

#include <cmath>
#include <optional>
#include <string_view>

const char kSendUsage[] = R"usage(Usage: scaledb-send [OPTIONS] FILE [TARGET...]
       scaledb-send --ports [--json [FILE]]
       scaledb-send --status [TARGET... | --targets LIST] [FILE] [--json [FILE]]
Sends a database file to one or many scales at once, with the same commands and the same
acknowledgements as "Send database" in the window.

Targets (any number, any mix; all are served at the same time):
  serial:PORT[@BAUD]    a COM name (COM1, found as the window finds it: the ports directory or
                        SCALEDB_PORTS_DIR) or a device path (/dev/ttyUSB0); the other settings
                        come from RuzOzodArir.ini, else 9600 8N1 without flow control
  tcp:HOST:PORT         TCP; commands end in CR LF
  udp:HOST:PORT         UDP to a dotted IPv4 address, one datagram per command; replies come
                        to the local UDP port (1001), routed by the sender's address; a
                        datagram from anyone else is dropped, a broadcast or multicast address
                        refused
  NAME=TARGET           names the target in the progress lines and the report
With no target, the link saved in config.xml (and RuzOzodArir.ini) is used. Both files are read
where the window reads them: beside the program, or per user when it is installed. The same
scale named twice (localhost, 127.1 and 127.0.0.1 are one address; a COM name, its device and
its /dev/serial/by-id/ link one port) is a usage error that names both targets.

Options:
  --targets LIST        read more targets from the file LIST, one per line (NAME=TARGET or
                        TARGET; blank lines and lines starting with # are skipped)
  --kind KIND           products (default) or labels send "SbP", users "SbU", statuses "SbS"
  --pace MS             the gap after each acknowledgement, in milliseconds (default 100)
  --answer-timeout S    a target fails when its scale sends no line for S seconds while a
                        command waits for its answer (default 15; fractions allowed; 0 never)
  --retries N           a wrongly answered record is sent again at most N times, then the
                        target fails; N + 1 wrong answers to the start or end command fail it
                        too (default 5)
  --udp-local-port N    the local port of the UDP targets (default 1001)
  --encoding NAME       the scales' code page (CP1250, ISO-8859-2, CP852, CP1252, ISO-8859-1 or
                        any other iconv knows): a UTF-8 file's text is converted into it before
                        it is sent; a file that is not UTF-8 is sent as it is. Without it the
                        file's bytes go unchanged. A character the code page lacks stops the
                        send before anything is sent (exit 2)
  --transliterate       send such a character as its closest letter without accent (ł -> l),
                        else "?", and list each replacement as a warning
  --check               print the file check (rows, fields, short rows, text form, repeated
                        first fields, longest command, characters the code page lacks) and
                        exit: 0 when the file can be sent as given, 2 when it cannot
  --dry-run             open nothing; print each command as it would go on the wire, one per
                        line, with C escapes (\r, \n, \0, \\, octal \ooo for other bytes)
  --json FILE           write a report when all targets have ended ("-", or no FILE before
                        another option: standard output)
  --metrics FILE        after a send, write what each scale holds and how the run ended in
                        the Prometheus text format (node_exporter's textfile collector reads
                        /var/lib/prometheus/node-exporter/*.prom), replaced whole by a rename;
                        a folder that cannot be written stops the run before anything is
                        sent, a write that fails at the end fails no send
  --quiet               print only failures
  --only-changed        do not contact a scale that holds this file already (the ledger says
                        so): "NAME: up to date (sent ... by ...)", result "current", a success
  --status              print what each scale holds (this file, other content, unknown:
                        interrupted load, never sent), its last success and last attempt, from
                        the ledger, and exit: 0 when every scale listed holds FILE (or no FILE
                        is given), 1 otherwise, also when no scale is listed with FILE or the
                        ledger cannot be read. No targets: every scale the ledger knows. Only
                        reads: a missing ledger knows no scale
  --state-dir DIR       keep the ledger and the history in DIR (as SCALEDB_STATE_DIR)
  --ports               list the serial devices present and exit, one line each: the device,
                        its COM names, driver, USB vendor:product and names, whether you may
                        open it (and why not), the process holding it and its stable
                        /dev/serial/by-id/ name, then what stands in the way and its fix
                        (group rights, a holder, brltty, ModemManager). No file or target.
                        With --json FILE as JSON; --json before another option or as the
                        last word: standard output
  --help                show this text
  --version             show the version

Progress goes to standard error: on a terminal one live line per target, otherwise a line per
target at its start, at every 10 % and at its end. Every transfer that starts adds one line to
the transfer history, transfers.jsonl in $XDG_STATE_HOME/scaledb/ (~/.local/state/scaledb/), and
every transfer and attempt is recorded in the ledger scaledb.sqlite beside it. One sender at a
time talks to a scale: a scale another sender holds fails at once as "busy".

Exit status: 0 every target was sent (or was current, with --only-changed); 1 a target failed,
the run was interrupted (SIGINT, SIGTERM) or standard output could not be written; 2 a usage
error or a file that cannot be read (nothing is sent then).
)usage";

namespace {
constexpr TSendOption kOptions[] = {
    {"--targets", true},
    {"--kind", true},
    {"--pace", true},
    {"--answer-timeout", true},
    {"--retries", true},
    {"--udp-local-port", true},
    {"--encoding", true},
    {"--transliterate", false},
    {"--check", false},
    {"--dry-run", false},
    {"--json", true},
    {"--metrics", true},
    {"--quiet", false},
    {"--only-changed", false},
    {"--status", false},
    {"--state-dir", true},
    {"--ports", false},
    {"--help", false},
    {"--version", false},
};

constexpr int kMaxPaceMs = 3600 * 1000;
constexpr double kMaxAnswerTimeoutSeconds = 24 * 3600;
constexpr int kMaxRetries = 1000000;

// Seconds as milliseconds; a time above zero is at least 1 ms.
std::optional<int> SecondsAsMs(std::string_view text) {
  const std::optional<double> seconds = ParseNumber(text, 0, kMaxAnswerTimeoutSeconds, TFraction::Allowed);
  if (!seconds) return std::nullopt;
  const int ms = static_cast<int>(std::llround(*seconds * 1000));
  return *seconds > 0 && ms == 0 ? 1 : ms;
}

class TWords {
 public:
  explicit TWords(const std::vector<std::string>& words) : words_(words) {}
  bool More() const { return next_ < words_.size(); }
  const std::string& Next() const { return words_[next_]; }
  const std::string& Take() { return words_[next_++]; }

 private:
  const std::vector<std::string>& words_;
  size_t next_ = 0;
};

// Applies one option that takes a value; the error in words, or empty.
std::string ApplyValue(std::string_view option, const std::string& value, TSendOptions& options) {
  const std::string bad = std::string(option) + ": '" + value + "' is not ";
  if (option == "--targets") {
    options.TargetsFiles.push_back(value);
  } else if (option == "--kind") {
    const TDatabaseKind* kind = DatabaseKindNamed(value);
    if (!kind) return bad + "one of " + std::string(DatabaseKindNames());
    options.Kind = value;
    options.KindPosition = kind->Position;
  } else if (option == "--pace") {
    const std::optional<int> pace = ParseWholeNumber(value, 1, kMaxPaceMs);
    if (!pace) return bad + "a number of milliseconds from 1 to 3600000";
    options.PaceMs = *pace;
  } else if (option == "--answer-timeout") {
    const std::optional<int> timeout = SecondsAsMs(value);
    if (!timeout) return bad + "a number of seconds from 0 to 86400";
    options.AnswerTimeoutMs = *timeout;
  } else if (option == "--retries") {
    const std::optional<int> retries = ParseWholeNumber(value, 0, kMaxRetries);
    if (!retries) return bad + "a number from 0 to 1000000";
    options.Retries = *retries;
  } else if (option == "--udp-local-port") {
    const std::optional<int> port = ParseWholeNumber(value, 1, 65535);
    if (!port) return bad + "a port from 1 to 65535";
    options.UdpLocalPort = *port;
  } else if (option == "--encoding") {
    options.Encoding = value;
  } else if (option == "--json") {
    if (value.empty()) return std::string(option) + " needs a file name";
    options.JsonPath = value;
  } else if (option == "--metrics") {
    if (value.empty()) return std::string(option) + " needs a file name";
    options.MetricsPath = value;
  } else if (option == "--state-dir") {
    if (value.empty()) return std::string(option) + " needs a folder";
    options.StateDir = value;
  }
  return {};
}

bool TakesValue(std::string_view option) {
  const TSendOption* known = FindSendOption(option);
  return known && known->TakesValue;
}

// "--ports", "--pace=20": a word that names one of the options, with its value or without.
bool IsOptionWord(std::string_view word) { return FindSendOption(word.substr(0, word.find('='))) != nullptr; }

// A --json without a file: before another option, or as the last word after --ports or --status.
bool JsonToStandardOutput(std::string_view option, const TWords& words, const TSendOptions& options) {
  if (option != "--json") return false;
  return words.More() ? IsOptionWord(words.Next()) : options.Ports || options.Status;
}

// Applies an option without a value; false when there is no such option.
bool ApplyFlag(std::string_view option, TSendOptions& options) {
  if (option == "--dry-run") options.DryRun = true;
  else if (option == "--transliterate") options.Transliterate = true;
  else if (option == "--check") options.Check = true;
  else if (option == "--quiet") options.Quiet = true;
  else if (option == "--ports") options.Ports = true;
  else if (option == "--only-changed") options.OnlyChanged = true;
  else if (option == "--status") options.Status = true;
  else if (option == "--help") options.Help = true;
  else if (option == "--version") options.Version = true;
  else return false;
  return true;
}

std::string ApplyOption(const std::string& word, TWords& words, TSendOptions& options) {
  const size_t equals = word.find('=');
  const std::string option = word.substr(0, equals);
  if (TakesValue(option)) {
    if (equals != std::string::npos) return ApplyValue(option, word.substr(equals + 1), options);
    if (JsonToStandardOutput(option, words, options)) return ApplyValue(option, "-", options);
    if (!words.More()) return option + " needs a value";
    return ApplyValue(option, words.Take(), options);
  }
  if (equals == std::string::npos && ApplyFlag(option, options)) return {};
  if (equals != std::string::npos && ApplyFlag(option, options)) return option + " takes no value";
  return "unknown option '" + word + "'";
}

std::string AddTarget(const std::string& word, TSendOptions& options) {
  TTargetParse target = ParseTarget(word);
  if (!target.Error.empty()) return target.Error;
  options.Targets.push_back(std::move(target.Target));
  return {};
}

bool LooksLikeTarget(std::string_view word) {
  const size_t equals = word.find('=');
  const std::string_view link = equals == std::string_view::npos ? word : word.substr(equals + 1);
  return link.starts_with("serial:") || link.starts_with("tcp:") || link.starts_with("udp:");
}

std::string ApplyPositional(const std::string& word, TSendOptions& options) {
  if (options.Status && LooksLikeTarget(word)) return AddTarget(word, options);
  if (options.File.empty()) {
    if (word.empty()) return "the file name is empty";
    options.File = word;
    return {};
  }
  return AddTarget(word, options);
}

// --status takes its targets and its file in any order: a word that names a link is a target.
void SettleStatusWords(TSendOptions& options) {
  if (!options.Status || !LooksLikeTarget(options.File)) return;
  TTargetParse target = ParseTarget(options.File);
  if (!target.Error.empty()) return;
  options.Targets.insert(options.Targets.begin(), std::move(target.Target));
  options.File.clear();
}
}  // namespace

std::span<const TSendOption> SendOptions() { return kOptions; }

const TSendOption* FindSendOption(std::string_view name) {
  for (const TSendOption& option : kOptions)
    if (option.Name == name) return &option;
  return nullptr;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& words) {
  TCommandLine line;
  TSendOptions& options = line.Options;
  TWords rest(words);
  bool optionsEnded = false;
  while (rest.More()) {
    const std::string& word = rest.Take();
    std::string error;
    if (!optionsEnded && word == "--")
      optionsEnded = true;
    else if (!optionsEnded && word.size() > 1 && word.front() == '-')
      error = ApplyOption(word, rest, options);
    else
      error = ApplyPositional(word, options);
    if (!error.empty()) {
      line.Error = error;
      return line;
    }
  }
  SettleStatusWords(options);
  if (options.Ports && (!options.File.empty() || !options.Targets.empty() || !options.TargetsFiles.empty()))
    line.Error = "--ports sends nothing: give it no file or target";
  else if (!options.Help && !options.Version && !options.Ports && !options.Status && options.File.empty())
    line.Error = "no database file given";
  return line;
}
