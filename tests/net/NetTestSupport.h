#pragma once
// Loopback peers and event-loop helpers for the network link tests. Every peer lives on
// 127.0.0.1; nothing here sends anywhere else.

#include "Global.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

constexpr const char* kLoopback = "127.0.0.1";

// Moves the process into a network namespace of its own with the loopback up, when it may (root),
// so the fixed local port 1001 is its own: two test runs at once (a second checkout, a second
// ctest) no longer take the port, or each other's datagrams, from each other. Without the
// privilege it stays where it is; the ctest lock still orders the tests of one run. Called before
// any thread or socket exists; threads and child processes started later share the namespace.
bool EnterPrivateNetwork();

// Stands in for the main window: records every posted WM_PORT_STATE value in arrival order.
class TStateRecorder : public QObject {
 public:
  bool event(QEvent* event) override;
  std::vector<intptr_t> States;
};

// A connected TCP peer.
class TTcpPeer {
 public:
  explicit TTcpPeer(int handle) : handle_(handle) {}
  ~TTcpPeer();
  TTcpPeer(const TTcpPeer&) = delete;
  TTcpPeer& operator=(const TTcpPeer&) = delete;

  void Send(const std::string& bytes);
  // Everything that arrives until `count` bytes are there, the client closes, or time runs out.
  std::string Receive(size_t count, int timeoutMs = 5000);
  // True when the client has closed its side.
  bool WaitForClose(int timeoutMs = 5000);
  void Close();
  // Closes with a reset instead of an orderly close.
  void Reset();

 private:
  int handle_;
};

class TTcpListener {
 public:
  TTcpListener();
  ~TTcpListener();
  TTcpListener(const TTcpListener&) = delete;
  TTcpListener& operator=(const TTcpListener&) = delete;

  int Port() const { return port_; }
  // The next connection the client made; empty when none came within the time.
  std::optional<int> Accept(int timeoutMs = 5000);

 private:
  int handle_;
  int port_;
};

// A loopback TCP port that refuses connections until Listen() is called.
class TRefusingPort {
 public:
  TRefusingPort();
  ~TRefusingPort();
  TRefusingPort(const TRefusingPort&) = delete;
  TRefusingPort& operator=(const TRefusingPort&) = delete;
  int Port() const { return port_; }
  void Listen();

 private:
  int handle_;
  int port_;
};

// A loopback TCP port whose connections are never answered: it listens with a full queue, so a
// new connection attempt waits as one to an unreachable host does.
class TUnansweredPort {
 public:
  TUnansweredPort();
  ~TUnansweredPort();
  TUnansweredPort(const TUnansweredPort&) = delete;
  TUnansweredPort& operator=(const TUnansweredPort&) = delete;
  int Port() const { return port_; }

 private:
  int handle_;
  int port_;
  std::vector<int> queued_;
};

struct TDatagram {
  std::string Bytes;
  int SenderPort = 0;
};

// A UDP socket on 127.0.0.1; port 0 lets the system choose one.
class TUdpPeer {
 public:
  explicit TUdpPeer(int port = 0);
  ~TUdpPeer();
  TUdpPeer(const TUdpPeer&) = delete;
  TUdpPeer& operator=(const TUdpPeer&) = delete;

  int Port() const { return port_; }
  void SendTo(int port, const std::string& bytes) const;
  std::optional<TDatagram> Receive(int timeoutMs = 5000) const;

 private:
  int handle_;
  int port_;
};
