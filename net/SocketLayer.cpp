#include "SocketLayer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace SocketLayer {

namespace {
sockaddr_in ToSockaddr(const TIPv4Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(endpoint.Address);
  address.sin_port = htons(endpoint.Port);
  return address;
}

TIPv4Endpoint FromSockaddr(const sockaddr_in& address) {
  return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

bool EndsWithNoCase(std::string text, const std::string& suffix) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// RFC 6761: "invalid" names never exist, so no query may leave the machine for them.
bool IsInvalidDomain(std::string host) {
  if (!host.empty() && host.back() == '.') host.pop_back();
  return EndsWithNoCase("." + host, ".invalid");
}

int ErrnoOr0(int result) { return result == 0 ? 0 : errno; }
}  // namespace

std::string ErrorText(int error) { return std::system_category().message(error); }

std::string LookupErrorText(int code) { return gai_strerror(code); }

TLookupResult ResolveIPv4(const std::string& host) {
  if (host.empty() || IsInvalidDomain(host)) return {EAI_NONAME, 0};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int code = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (code != 0) return {code, 0};
  const auto* first = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const TLookupResult result{0, ntohl(first->sin_addr.s_addr)};
  freeaddrinfo(found);
  return result;
}

bool IsValidPort(int32_t port) { return port >= 1 && port <= 65535; }

int CreateTcpSocket() { return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP); }

int CreateUdpSocket() { return socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP); }

int StartConnect(int socket, const TIPv4Endpoint& remote) {
  const sockaddr_in address = ToSockaddr(remote);
  if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
  return errno == EINPROGRESS ? 0 : errno;
}

int PendingError(int socket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

int BytesWaiting(int socket) {
  int count = 0;
  if (ioctl(socket, FIONREAD, &count) != 0) return -1;
  return count;
}

int ClosedState(int socket) {
  char probe;
  const ssize_t result = recv(socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (result == 0) return 0;
  if (result > 0) return EAGAIN;
  return errno == EWOULDBLOCK ? EAGAIN : errno;
}

ptrdiff_t Receive(int socket, char* buffer, size_t size) { return recv(socket, buffer, size, MSG_DONTWAIT); }

ptrdiff_t Send(int socket, const char* data, size_t size) {
  return send(socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
}

ptrdiff_t ReceiveFrom(int socket, char* buffer, size_t size, TIPv4Endpoint& sender) {
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t result =
      recvfrom(socket, buffer, size, MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &length);
  if (result >= 0) sender = FromSockaddr(from);
  return result;
}

ptrdiff_t SendTo(int socket, const char* data, size_t size, const TIPv4Endpoint& remote) {
  const sockaddr_in address = ToSockaddr(remote);
  return sendto(socket, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int Bind(int socket, const TIPv4Endpoint& local) {
  const sockaddr_in address = ToSockaddr(local);
  return ErrnoOr0(bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int LocalPort(int socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

std::vector<uint32_t> InterfaceBroadcastAddresses() {
  std::vector<uint32_t> addresses;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return addresses;
  for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
    if (!(entry->ifa_flags & IFF_BROADCAST) || !entry->ifa_broadaddr || entry->ifa_broadaddr->sa_family != AF_INET)
      continue;
    addresses.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr)->sin_addr.s_addr));
  }
  freeifaddrs(interfaces);
  return addresses;
}

int SetBroadcast(int socket, bool enabled) {
  const int value = enabled ? 1 : 0;
  return ErrnoOr0(setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &value, sizeof value));
}

void ShutdownSend(int socket) { shutdown(socket, SHUT_WR); }

void Close(int socket) {
  if (socket != kNoSocket) close(socket);
}

std::string DottedText(uint32_t address) {
  const in_addr raw{htonl(address)};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &raw, text, sizeof text);
  return text;
}

TWakeEvent::TWakeEvent() : handle_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (handle_ < 0) throw std::system_error(errno, std::system_category(), "eventfd");
}

TWakeEvent::~TWakeEvent() { close(handle_); }

void TWakeEvent::Signal() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(handle_, &one, sizeof one);
}

}  // namespace SocketLayer
