#pragma once
// The simulator's links and its single-threaded event loop.

#include "Options.h"
#include "Scale.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TSimulator {
 public:
  explicit TSimulator(const TSimOptions& options);
  ~TSimulator();
  TSimulator(const TSimulator&) = delete;
  TSimulator& operator=(const TSimulator&) = delete;

  // Opens the chosen links and prints them; throws std::runtime_error when one cannot be opened.
  void Open();
  // Serves the links until `stop` is set by a signal.
  void Run(const volatile std::sig_atomic_t& stop);

 private:
  using Clock = std::chrono::steady_clock;
  enum class TLinkKind { Pty, TcpClient };

  struct TStreamLink {
    TStreamLink(TLinkKind kind, int fd, const TFaults& faults) : Kind(kind), Fd(fd), Session(faults) {}
    TLinkKind Kind;
    int Fd;
    std::string Input;
    std::string Outbox;
    TScaleSession Session;
    Clock::time_point LastDue{};
    std::optional<Clock::time_point> AnswerLeft;
    // The port of the scale a TCP client reached, where there are several to tell apart; else 0.
    int ScalePort = 0;
    bool Closing = false;  // the last answer is on its way; what arrives now is ignored
    bool WatchesOutput = false;
    bool CloseWhenFlushed = false;
    bool CloseChecked = false;
    Clock::time_point CloseDeadline{};
  };

  // A piece of an answer (or the closing of its link) waiting for its time.
  struct TScheduled {
    int LinkId;
    std::string Bytes;
    bool Close = false;
    sockaddr_in UdpTarget{};
  };

  static constexpr int kUdpLinkId = 0;

  void OpenPty();
  void OpenComLink(const std::string& slavePath);
  void OpenTcp();
  void OpenUdp();
  void Announce(const std::string& line);

  // Epoll tags: a stream's link id, a TCP listener's index, or the UDP socket.
  static constexpr uint64_t kListenerTag = 1ull << 32;
  static constexpr uint64_t kUdpTag = 2ull << 32;
  void Watch(int fd, uint64_t tag, uint32_t events);
  // The new stream's link id.
  int AddStream(TLinkKind kind, int fd);
  // Output is watched only while an answer waits to be written.
  void WatchOutput(int id);
  int PollTimeoutMs() const;
  void ServeOnce(int timeoutMs);
  void AcceptTcpClient(int listenFd);
  void ReadStream(int id);
  void ReadUdp();
  void HandleCommand(int linkId, const std::string& command, const sockaddr_in* udpSender);
  void Schedule(int linkId, const TReaction& reaction, const sockaddr_in* udpTarget);
  void RunDueItems();
  void Deliver(const TScheduled& item);
  void FlushOutbox(int id);
  void CloseWhenRead(int id);
  void CloseStream(int id);
  void RecordRaw(const char* bytes, size_t size);
  void RecordCommand(const std::string& command);
  void RecordTiming(const std::optional<Clock::time_point>& answerLeft, int scalePort);

  const TSimOptions& options_;
  std::map<int, TStreamLink> streams_;
  std::multimap<Clock::time_point, TScheduled> scheduled_;
  int nextLinkId_ = 1;
  int ptySlaveFd_ = -1;
  int epollFd_ = -1;
  std::vector<int> tcpListenFds_;
  int udpFd_ = -1;
  // The answers leave from here; udpFd_ unless they come from another address.
  int udpAnswerFd_ = -1;
  std::unique_ptr<TScaleSession> udpSession_;
  Clock::time_point udpLastDue_{};
  std::optional<Clock::time_point> udpAnswerLeft_;
  bool udpClosed_ = false;
  std::string comLinkPath_;
  FILE* log_ = nullptr;
  FILE* raw_ = nullptr;
  FILE* timing_ = nullptr;
  Clock::time_point started_ = Clock::now();
};
