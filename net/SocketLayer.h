#pragma once
// The POSIX calls under the TCP client and the UDP endpoint, kept in one place.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace SocketLayer {

// An IPv4 address and port, both in host byte order.
struct TIPv4Endpoint {
  uint32_t Address = 0;
  uint16_t Port = 0;
};

struct TLookupResult {
  int ErrorCode = 0;  // 0 on success, else a getaddrinfo code (never 0)
  uint32_t Address = 0;
};

constexpr int kNoSocket = -1;

// The system's text for an errno value.
std::string ErrorText(int error);
// The resolver's text for a getaddrinfo code.
std::string LookupErrorText(int code);

// Resolves `host` to its first IPv4 address; blocks, so it runs off the GUI thread.
// Names under the reserved "invalid" domain fail without asking any name server.
TLookupResult ResolveIPv4(const std::string& host);

bool IsValidPort(int32_t port);

// The broadcast addresses of the local network interfaces that have one (host byte order).
std::vector<uint32_t> InterfaceBroadcastAddresses();

// Each returns kNoSocket and leaves errno on failure. Sockets are non-blocking and close-on-exec.
int CreateTcpSocket();
int CreateUdpSocket();

// Returns 0 when the connection is under way or made, else the errno.
int StartConnect(int socket, const TIPv4Endpoint& remote);
// The socket's pending error (SO_ERROR), 0 when there is none.
int PendingError(int socket);

// Bytes waiting to be read; -1 with errno on failure.
int BytesWaiting(int socket);
// After a readiness report with nothing waiting: 0 when the peer closed, EAGAIN when the report
// was spurious, else the error that ended the connection.
int ClosedState(int socket);

// These return the count, or -1 with errno.
ptrdiff_t Receive(int socket, char* buffer, size_t size);
ptrdiff_t Send(int socket, const char* data, size_t size);
// Receives one datagram; returns its full length even when it did not fit (so it can be dropped).
ptrdiff_t ReceiveFrom(int socket, char* buffer, size_t size, TIPv4Endpoint& sender);
ptrdiff_t SendTo(int socket, const char* data, size_t size, const TIPv4Endpoint& remote);

// Returns 0 or the errno. `port` 0 lets the system choose; `address` 0 is every local address.
int Bind(int socket, const TIPv4Endpoint& local);
int LocalPort(int socket);
int SetBroadcast(int socket, bool enabled);
void ShutdownSend(int socket);
void Close(int socket);

std::string DottedText(uint32_t address);

// A wake-up signal another thread can wait on beside its sockets (an eventfd).
class TWakeEvent {
 public:
  TWakeEvent();
  ~TWakeEvent();
  TWakeEvent(const TWakeEvent&) = delete;
  TWakeEvent& operator=(const TWakeEvent&) = delete;

  int Handle() const { return handle_; }
  void Signal();

 private:
  int handle_;
};

}  // namespace SocketLayer
