#pragma once
// Runs scale-sim for a test: starts it, reads the links it announces, stops it at the end.

#include <sys/types.h>

#include <string>
#include <vector>

class TScaleSimProcess {
 public:
  // Starts the simulator with these arguments and waits until it is ready; throws
  // std::runtime_error when it fails to start.
  explicit TScaleSimProcess(const std::vector<std::string>& arguments);
  ~TScaleSimProcess();
  TScaleSimProcess(const TScaleSimProcess&) = delete;
  TScaleSimProcess& operator=(const TScaleSimProcess&) = delete;

  const std::string& PtyPath() const { return ptyPath_; }
  const std::string& ComLinkPath() const { return comLinkPath_; }
  int TcpPort() const { return tcpPort_; }
  // Every TCP scale's port, in the order announced (--tcp-count).
  const std::vector<int>& TcpPorts() const { return tcpPorts_; }
  int UdpPort() const { return udpPort_; }
  // Ends the simulator (SIGTERM) and waits for it; it then has removed its COM link.
  void Stop();

  static std::string ExecutablePath() { return SCALE_SIM_PATH; }

 private:
  void ReadAnnouncements(int fd);
  void TakeAnnouncement(const std::string& line);

  pid_t pid_ = -1;
  std::string ptyPath_;
  std::string comLinkPath_;
  int tcpPort_ = 0;
  std::vector<int> tcpPorts_;
  int udpPort_ = 0;
};
