#include "NetTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {
sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

int BoundSocket(int type, int port) {
  const int handle = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (handle < 0) throw std::runtime_error("socket failed");
  const sockaddr_in address = LoopbackAddress(port);
  if (bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(handle);
    throw std::runtime_error("bind failed");
  }
  return handle;
}

int BoundPort(int handle) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

bool Readable(int handle, int timeoutMs) {
  pollfd wait{handle, POLLIN, 0};
  return poll(&wait, 1, timeoutMs) > 0;
}
}  // namespace

namespace {
bool BringLoopbackUp() {
  const int handle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (handle < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(handle, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP | IFF_RUNNING;
  up = up && ioctl(handle, SIOCSIFFLAGS, &request) == 0;
  close(handle);
  return up;
}
}  // namespace

bool EnterPrivateNetwork() {
  const int original = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  if (original < 0) return false;
  bool entered = unshare(CLONE_NEWNET) == 0;
  // A namespace without a working loopback would fail every test: go back to the shared one.
  if (entered && !BringLoopbackUp()) entered = setns(original, CLONE_NEWNET) != 0;
  close(original);
  return entered;
}

bool TStateRecorder::event(QEvent* event) {
  if (event->type() != static_cast<QEvent::Type>(WM_PORT_STATE)) return QObject::event(event);
  States.push_back(static_cast<const TPortStateEvent*>(event)->wParam);
  return true;
}

TTcpPeer::~TTcpPeer() { Close(); }

void TTcpPeer::Send(const std::string& bytes) {
  if (send(handle_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("peer send failed");
}

std::string TTcpPeer::Receive(size_t count, int timeoutMs) {
  std::string received;
  QElapsedTimer clock;
  clock.start();
  while (received.size() < count && clock.elapsed() < timeoutMs) {
    if (!Readable(handle_, 10)) continue;
    char buffer[4096];
    const ssize_t got = recv(handle_, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
  }
  return received;
}

bool TTcpPeer::WaitForClose(int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!Readable(handle_, 10)) continue;
    char buffer[256];
    if (recv(handle_, buffer, sizeof buffer, 0) <= 0) return true;
  }
  return false;
}

void TTcpPeer::Close() {
  if (handle_ >= 0) close(handle_);
  handle_ = -1;
}

void TTcpPeer::Reset() {
  const linger abort{1, 0};
  setsockopt(handle_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  Close();
}

TTcpListener::TTcpListener() : handle_(BoundSocket(SOCK_STREAM, 0)), port_(BoundPort(handle_)) { listen(handle_, 8); }

TTcpListener::~TTcpListener() { close(handle_); }

std::optional<int> TTcpListener::Accept(int timeoutMs) {
  if (!Readable(handle_, timeoutMs)) return std::nullopt;
  const int peer = accept4(handle_, nullptr, nullptr, SOCK_CLOEXEC);
  if (peer < 0) return std::nullopt;
  return peer;
}

TRefusingPort::TRefusingPort() : handle_(BoundSocket(SOCK_STREAM, 0)), port_(BoundPort(handle_)) {}

TRefusingPort::~TRefusingPort() { close(handle_); }

void TRefusingPort::Listen() { listen(handle_, 8); }

TUnansweredPort::TUnansweredPort() : handle_(BoundSocket(SOCK_STREAM, 0)), port_(BoundPort(handle_)) {
  listen(handle_, 0);
  const sockaddr_in address = LoopbackAddress(port_);
  for (int i = 0; i < 4; ++i) {
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    queued_.push_back(client);
  }
}

TUnansweredPort::~TUnansweredPort() {
  for (const int client : queued_) close(client);
  close(handle_);
}

TUdpPeer::TUdpPeer(int port) : handle_(BoundSocket(SOCK_DGRAM, port)), port_(BoundPort(handle_)) {}

TUdpPeer::~TUdpPeer() { close(handle_); }

void TUdpPeer::SendTo(int port, const std::string& bytes) const {
  const sockaddr_in address = LoopbackAddress(port);
  sendto(handle_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

std::optional<TDatagram> TUdpPeer::Receive(int timeoutMs) const {
  if (!Readable(handle_, timeoutMs)) return std::nullopt;
  std::string buffer(70000, '\0');
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t got = recvfrom(handle_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (got < 0) return std::nullopt;
  buffer.resize(static_cast<size_t>(got));
  return TDatagram{buffer, ntohs(from.sin_port)};
}
