#pragma once
// The simulator's command line.

#include "Scale.h"

#include <optional>
#include <string>

struct TSimOptions {
  bool Pty = false;
  int ComNumber = 0;  // 0: no COM<n> link
  std::string PortsDir;
  std::string Host = "127.0.0.1";
  std::optional<int> TcpPort;
  int TcpCount = 1;  // TCP scales, each on a port of its own
  std::optional<int> UdpPort;
  int UdpReplyPort = 1001;
  std::string UdpAnswerFrom;  // another loopback address the UDP answers leave from; empty: Host
  std::string LogPath;  // "-" for standard output
  std::string RawPath;
  std::string TimingPath;  // "-" for standard output
  TFaults Faults;
  bool Help = false;
};

// Throws std::invalid_argument with a message for the operator on a bad command line.
TSimOptions ParseOptions(int argc, char** argv);

extern const char kUsage[];
