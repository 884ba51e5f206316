#include "Options.h"

#include "NumberParse.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <stdexcept>
#include <string_view>

const char kUsage[] = R"(Usage: scale-sim [LINKS] [FAULTS] [LOG]
Behaves like a weighing scale: answers SbP/SbU/SbS with MbP/MbU/MbS, every Sr... with Mr and
Se with Me, each followed by CR LF. Serial and TCP commands end in CR LF (a bare LF is accepted);
a UDP command is one datagram of the command's bytes and one zero byte.

Links (at least one):
  --pty                 open a pseudo-terminal pair and print its slave path
  --com N               also create the link COM<N> to the slave in the ports directory (implies --pty)
  --ports-dir DIR       the ports directory (default: $SCALEDB_PORTS_DIR); created if missing
  --tcp PORT            listen for TCP clients on HOST:PORT (0 picks a free port)
  --tcp-count N         be N TCP scales at once, on N ports (PORT, PORT+1, ... or N free ones),
                        each printed as its own "tcp" line
  --udp PORT            receive UDP commands on HOST:PORT (0 picks a free port)
  --udp-reply-port P    answer UDP commands at the sender's address, port P (default 1001)
  --host ADDR           the loopback address to listen on (default 127.0.0.1; only 127.0.0.0/8)
  --answer-from ADDR    send the UDP answers from this other loopback address, as a spoofer would

Faults (records are counted per link, resent ones too):
  --garble-every K      answer every K-th record with the wrong line "Mr."
  --drop-every K        leave every K-th record unanswered
  --refuse-every K      answer every K-th record with the refusal "Er" (1: every record)
  --close-after K       close the link once the K-th record has been answered: the pty closes
                        and its COM link is removed, a TCP client is disconnected (the listener
                        stays), UDP stops answering
  --silent-after K      answer nothing more once the K-th record has been answered
  --double-every K      send every K-th record's answer twice in one write
  --repeat-every K      send every K-th record's answer once more as a line of its own, after
                        --repeat-gap MS (default 20), while no command waits for it
  --flood-before K N    send N bytes of text without a line feed (at most 64 MiB) just before
                        the K-th record's answer; over UDP as datagrams of at most 60000 bytes
  --delay MS            send each answer MS milliseconds after its command arrived
  --split               send answers one byte per write
  --split-gap MS        pause between the bytes of a split answer (default 2)

Log:
  --log FILE            write every command received, one per line, without its framing ("-": stdout)
  --raw FILE            write every byte received, unchanged, in arrival order
  --timing FILE         write one line per command received: the milliseconds since the start and
                        since the last answer on its link went out ("-" before the first), for
                        example "1234.567 100.412", and with --tcp-count the port of the scale
                        it reached, "1234.567 100.412 40123" ("-": stdout)

On start it prints, one per line: "pty <slave path>", "com <link path>", "tcp <host> <port>",
"udp <host> <port>" for the links it opened, then "ready". It runs until SIGINT or SIGTERM and then
removes its COM link.
  --help                show this text
)";

namespace {
constexpr int kMaxFloodBytes = 64 << 20;

int ParseCount(std::string_view option, const char* text, int minimum, int maximum = 65535) {
  const std::optional<int> value = ParseWholeNumber(text, minimum, maximum);
  if (!value) throw std::invalid_argument(std::string(option) + ": bad number '" + text + "'");
  return *value;
}

void CheckLoopback(std::string_view option, const std::string& host) {
  in_addr address{};
  if (inet_pton(AF_INET, host.c_str(), &address) != 1 || (ntohl(address.s_addr) >> 24) != 127)
    throw std::invalid_argument(std::string(option) + ": only loopback addresses (127.0.0.0/8) are served, not '" +
                                host + "'");
}

class TArgs {
 public:
  TArgs(int argc, char** argv) : argc_(argc), argv_(argv) {}
  bool More() const { return next_ < argc_; }
  std::string_view Take() { return argv_[next_++]; }
  const char* Value(std::string_view option) {
    if (!More()) throw std::invalid_argument(std::string(option) + " needs a value");
    return argv_[next_++];
  }

 private:
  int argc_;
  char** argv_;
  int next_ = 1;
};
}  // namespace

TSimOptions ParseOptions(int argc, char** argv) {
  TSimOptions options;
  if (const char* dir = std::getenv("SCALEDB_PORTS_DIR")) options.PortsDir = dir;
  TArgs args(argc, argv);
  while (args.More()) {
    const std::string_view option = args.Take();
    if (option == "--help") options.Help = true;
    else if (option == "--pty") options.Pty = true;
    else if (option == "--com") {
      options.ComNumber = ParseCount(option, args.Value(option), 1);
      options.Pty = true;
    }
    else if (option == "--ports-dir") options.PortsDir = args.Value(option);
    else if (option == "--host") options.Host = args.Value(option);
    else if (option == "--tcp") options.TcpPort = ParseCount(option, args.Value(option), 0);
    else if (option == "--tcp-count") options.TcpCount = ParseCount(option, args.Value(option), 1, 20000);
    else if (option == "--udp") options.UdpPort = ParseCount(option, args.Value(option), 0);
    else if (option == "--udp-reply-port") options.UdpReplyPort = ParseCount(option, args.Value(option), 1);
    else if (option == "--garble-every") options.Faults.GarbleEvery = ParseCount(option, args.Value(option), 1);
    else if (option == "--drop-every") options.Faults.DropEvery = ParseCount(option, args.Value(option), 1);
    else if (option == "--refuse-every") options.Faults.RefuseEvery = ParseCount(option, args.Value(option), 1);
    else if (option == "--close-after") options.Faults.CloseAfter = ParseCount(option, args.Value(option), 1);
    else if (option == "--silent-after") options.Faults.SilentAfter = ParseCount(option, args.Value(option), 1);
    else if (option == "--double-every") options.Faults.DoubleEvery = ParseCount(option, args.Value(option), 1);
    else if (option == "--repeat-every") options.Faults.RepeatEvery = ParseCount(option, args.Value(option), 1);
    else if (option == "--repeat-gap") options.Faults.RepeatGapMs = ParseCount(option, args.Value(option), 0);
    else if (option == "--answer-from") options.UdpAnswerFrom = args.Value(option);
    else if (option == "--flood-before") {
      options.Faults.FloodBefore = ParseCount(option, args.Value(option), 1);
      options.Faults.FloodBytes = ParseCount(option, args.Value(option), 1, kMaxFloodBytes);
    }
    else if (option == "--delay") options.Faults.DelayMs = ParseCount(option, args.Value(option), 0);
    else if (option == "--split") options.Faults.Split = true;
    else if (option == "--split-gap") options.Faults.SplitGapMs = ParseCount(option, args.Value(option), 0);
    else if (option == "--log") options.LogPath = args.Value(option);
    else if (option == "--raw") options.RawPath = args.Value(option);
    else if (option == "--timing") options.TimingPath = args.Value(option);
    else throw std::invalid_argument("unknown option '" + std::string(option) + "'");
  }
  if (options.Help) return options;
  CheckLoopback("--host", options.Host);
  if (!options.UdpAnswerFrom.empty()) CheckLoopback("--answer-from", options.UdpAnswerFrom);
  if (!options.Pty && !options.TcpPort && !options.UdpPort)
    throw std::invalid_argument("no link chosen: give --pty, --com, --tcp or --udp");
  if (options.TcpCount > 1 && !options.TcpPort) throw std::invalid_argument("--tcp-count needs --tcp");
  if (options.ComNumber > 0 && options.PortsDir.empty())
    throw std::invalid_argument("--com needs --ports-dir or SCALEDB_PORTS_DIR");
  return options;
}
