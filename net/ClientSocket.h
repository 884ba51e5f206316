#pragma once
// The non-blocking TCP client: asynchronous name lookup and connect, and every event delivered
// on the GUI thread through its event loop, after the call that started it has returned.

#include "SocketLayer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

class QSocketNotifier;
class TClientSocket;

enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };
enum TClientType { ctNonBlocking, ctBlocking };

class ESocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  ESocketError(const std::string& text, int errorCode) : std::runtime_error(text), ErrorCode(errorCode) {}
  int ErrorCode = 0;  // the errno behind it, where there is one
};

// The connection proper: the socket handle, the pending lookup, the notifiers and the lock.
class TClientConnection {
 public:
  explicit TClientConnection(TClientSocket& owner);
  ~TClientConnection();
  TClientConnection(const TClientConnection&) = delete;
  TClientConnection& operator=(const TClientConnection&) = delete;

  // Everything the connection holds at this moment; empty when nothing waits.
  std::string ReadPendingText();
  // Bytes the system accepted; 0 when not connected, -1 when the send would block.
  int SendString(const std::string& text);

  bool Connected() const { return connected_; }
  int Handle() const { return handle_; }

 private:
  friend class TClientSocket;
  enum class TLookupPhase { Idle, Address };
  enum class TNotification { Connect, Close, Read };

  void Activate();
  void Disconnect();
  void ReleaseQuietly();
  void StartLookup();
  void CancelLookup();
  void LookupCompleted(const SocketLayer::TLookupResult& result);
  void Open();
  void WatchForConnect();
  void WatchForRead();
  void OnWritable();
  void OnReadable();
  void Notify(TNotification kind, int error);
  void ConnectNotified();
  void ReadNotified();
  void CloseNotified();
  // Reports `error` to OnError and disconnects; raises `text` unless the handler cleared the code.
  void FailAndDisconnect(TErrorEvent event, int error, const std::string& text);
  void ReportError(TErrorEvent event, int& error);
  static TErrorEvent ErrorEventOf(TNotification kind);
  void FireDisconnect();
  void CloseHandle();

  TClientSocket* owner_;
  int handle_ = SocketLayer::kNoSocket;
  SocketLayer::TIPv4Endpoint remote_;
  bool connected_ = false;
  TLookupPhase lookupPhase_ = TLookupPhase::Idle;
  struct TPendingLookup;
  // Shared with the thread that resolves while a lookup is pending; a completion whose request
  // has gone is not taken.
  std::shared_ptr<TPendingLookup> pendingLookup_;
  std::unique_ptr<QSocketNotifier> readNotifier_;
  std::unique_ptr<QSocketNotifier> writeNotifier_;
  std::recursive_mutex lock_;
  // Expires when the connection is released, so a handler that releases it is noticed.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

class TClientSocket {
 public:
  using TSocketNotifyEvent = std::function<void(TClientSocket& sender, TClientConnection& socket)>;
  // The handler may set `errorCode` to 0: then no exception is raised for the error.
  using TSocketErrorEvent =
      std::function<void(TClientSocket& sender, TClientConnection& socket, TErrorEvent event, int& errorCode)>;

  TClientSocket();
  ~TClientSocket();
  TClientSocket(const TClientSocket&) = delete;
  TClientSocket& operator=(const TClientSocket&) = delete;

  // True only while the connection is established.
  bool Active() const { return active_; }
  // True starts the lookup and connection and returns at once; false disconnects an established
  // connection. False during a lookup or connection attempt changes nothing.
  void SetActive(bool value);

  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host);
  int32_t Port() const { return port_; }
  void SetPort(int32_t port);
  // Only the non-blocking client is built; the value is kept for the setter's rule.
  TClientType ClientType() const { return clientType_; }
  void SetClientType(TClientType type);

  TClientConnection& Socket() { return *connection_; }

  // Resolves Host to its first IPv4 address. It runs on a thread of its own that nothing waits
  // for, so a lookup that never returns holds up neither the GUI nor the end of the program.
  std::function<SocketLayer::TLookupResult(const std::string& host)> Resolver = SocketLayer::ResolveIPv4;

  TSocketNotifyEvent OnLookup;
  TSocketNotifyEvent OnConnecting;
  TSocketNotifyEvent OnConnect;
  TSocketNotifyEvent OnDisconnect;
  TSocketNotifyEvent OnRead;
  TSocketNotifyEvent OnWrite;
  TSocketErrorEvent OnError;

 private:
  friend class TClientConnection;
  void Fire(const TSocketNotifyEvent& event);

  bool active_ = false;
  std::string host_;
  int32_t port_ = 0;
  TClientType clientType_ = ctNonBlocking;
  std::unique_ptr<TClientConnection> connection_;
};
