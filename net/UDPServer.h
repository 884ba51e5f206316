#pragma once
// The UDP endpoint: one datagram socket bound to a local port, a listener thread that hands each
// received datagram to OnUDPRead, and sending from the same socket to a dotted IPv4 address.

#include "SocketLayer.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class EUDPException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EInvalidSocket : public EUDPException {
 public:
  EInvalidSocket() : EUDPException("Cannot allocate socket.") {}
};
class ECouldNotBindSocket : public EUDPException {
 public:
  ECouldNotBindSocket() : EUDPException("Could not bind socket. Address and port are already in use.") {}
};
class EPackageSizeTooBig : public EUDPException {
 public:
  EPackageSizeTooBig() : EUDPException("Package Size Too Big.") {}
};
class ENotAllBytesSent : public EUDPException {
 public:
  ENotAllBytesSent() : EUDPException("Not all bytes sent.") {}
};
// Any other failed system call, with its errno.
class EUDPSocketError : public EUDPException {
 public:
  explicit EUDPSocketError(int error);
  EUDPSocketError(int error, const std::string& text) : EUDPException(text), ErrorCode(error) {}
  int ErrorCode;
};
// A destination address text that is not four dotted numbers.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads "a.b.c.d" part by part as decimal numbers, keeping the low 8 bits of each
// (10.0.0.300 is 10.0.0.44); names are refused, never resolved.
uint32_t DottedAddressToIPv4(const std::string& text);
// The same, 0 for a text that is not a dotted address.
uint32_t DottedAddressOrZero(const std::string& text);

// Why a datagram to `address` would reach no single scale (0.0.0.0, a multicast address, the
// limited broadcast or a local network's broadcast address); empty for an address of one host.
std::string NotOneScaleReason(uint32_t address, const std::vector<uint32_t>& broadcastAddresses);
// The same for a destination text, against the local interfaces' broadcast addresses; empty
// also for a text that is not a dotted address (nothing is ever sent to one).
std::string NotOneScaleReason(const std::string& host);

class TSocketHandle {
 public:
  explicit TSocketHandle(int port) : Port(port) {}
  ~TSocketHandle();
  TSocketHandle(const TSocketHandle&) = delete;
  TSocketHandle& operator=(const TSocketHandle&) = delete;

  int Handle() const { return handle_; }
  bool HandleAllocated() const { return handle_ != SocketLayer::kNoSocket; }
  void AllocateSocket();
  // Binds to every local address and Port; with Port 0 the system's choice is stored in Port.
  void Bind();
  void SetBroadcast(bool enabled);
  void CloseSocket();
  void SendDatagram(const std::string& address, int port, const char* data, size_t count);

  int Port;
  // The sender of the latest datagram; written by the listener thread before OnUDPRead.
  std::string PeerIP;
  int PeerPort = 0;

 private:
  int handle_ = SocketLayer::kNoSocket;
};

class TSocketHandles {
 public:
  explicit TSocketHandles(const int& defaultPort) : defaultPort_(defaultPort) {}
  // The new binding takes the owner's DefaultPort.
  TSocketHandle& Add();
  void Clear() { items_.clear(); }
  size_t Count() const { return items_.size(); }
  TSocketHandle& operator[](size_t index) { return *items_[index]; }

 private:
  const int& defaultPort_;
  std::vector<std::unique_ptr<TSocketHandle>> items_;
};

class TUDPServer;

class TUDPListenerThread {
 public:
  static constexpr int kWaitTimeMs = 1000;

  TUDPListenerThread(TUDPServer& server, size_t receiveSize, std::vector<TSocketHandle*> bindings);
  ~TUDPListenerThread();
  TUDPListenerThread(const TUDPListenerThread&) = delete;
  TUDPListenerThread& operator=(const TUDPListenerThread&) = delete;

  void Start();
  // Marks the thread stopped and wakes its wait, so it ends without waiting out the pass.
  void Stop();
  void WaitFor();

 private:
  void Run();
  void Pass();
  void ReceiveOn(TSocketHandle& binding);

  TUDPServer& server_;
  const size_t receiveSize_;
  std::vector<TSocketHandle*> bindings_;
  std::vector<char> buffer_;
  std::atomic<bool> stopped_{true};
  SocketLayer::TWakeEvent wake_;
  std::thread thread_;
};

class TUDPServer {
 public:
  // `data` is the datagram in the listener's reused buffer, valid during the call only.
  using TUDPReadEvent = std::function<void(TUDPServer& sender, std::string_view data, TSocketHandle& binding)>;

  TUDPServer() = default;
  ~TUDPServer();
  TUDPServer(const TUDPServer&) = delete;
  TUDPServer& operator=(const TUDPServer&) = delete;

  bool Active() const;
  // True binds every binding and starts the listener; false stops it, waits for it and closes.
  void SetActive(bool value);
  // The binding that sends: the first after activation, then the one that received last.
  TSocketHandle* Binding() const { return current_.load(); }

  // These are set while inactive.
  int BufferSize = 8192;
  bool BroadcastEnabled = false;
  int DefaultPort = 0;
  TSocketHandles Bindings{DefaultPort};
  TUDPReadEvent OnUDPRead;
  // True: OnUDPRead runs on the listener thread. False: a copy of the datagram is queued to the
  // GUI thread, so the listener never waits for it.
  bool ThreadedEvent = false;
  // Told on the listener thread why OnUDPRead failed there; that datagram is dropped and the
  // listener goes on.
  std::function<void(TUDPServer& sender, const std::exception& error)> OnReadFailure;

 private:
  friend class TUDPListenerThread;
  void Activate();
  void Deactivate();
  struct TPeer {
    std::string IP;
    int Port = 0;
  };
  void HandOver(TSocketHandle& binding, TPeer peer, std::string_view data);
  void ReadStep(TSocketHandle& binding, const TPeer& peer, std::string_view data);
  void ReadFailed(const std::exception& error);

  std::atomic<TSocketHandle*> current_{nullptr};
  std::unique_ptr<TUDPListenerThread> listener_;
  // Dropped at deactivation, so a queued datagram of an earlier activation is not handed on.
  std::shared_ptr<int> activation_;
  std::weak_ptr<int> listenerActivation_;
};
