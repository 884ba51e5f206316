#include "Simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace {
constexpr size_t kReadChunk = 65536;
constexpr auto kCloseCheck = std::chrono::milliseconds(20);
constexpr auto kCloseGrace = std::chrono::seconds(1);
constexpr size_t kFloodDatagramBytes = 60000;
// A pause between flood datagrams, so a reader that keeps up loses none of them.
constexpr auto kFloodDatagramGap = std::chrono::milliseconds(5);

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

FILE* OpenLog(const std::string& path) {
  if (path.empty()) return nullptr;
  if (path == "-") return stdout;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw SystemError("cannot write " + path);
  return file;
}

sockaddr_in LoopbackAddress(const std::string& host, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  return address;
}

int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

int BoundSocket(int type, const std::string& host, int port) {
  const int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw SystemError("socket");
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const sockaddr_in address = LoopbackAddress(host, port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    throw SystemError("cannot bind " + host + ":" + std::to_string(port));
  }
  return fd;
}

// Text without a line feed: the lower-case letters over and over.
std::string FloodText(size_t size) {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

// A command without its framing: one CR before the line feed, or the zero byte of a datagram.
std::string Unframed(std::string command, char terminator) {
  if (!command.empty() && command.back() == terminator) command.pop_back();
  return command;
}
}  // namespace

TSimulator::TSimulator(const TSimOptions& options) : options_(options), epollFd_(epoll_create1(EPOLL_CLOEXEC)) {
  if (epollFd_ < 0) throw SystemError("epoll");
}

TSimulator::~TSimulator() {
  for (auto& [id, link] : streams_) close(link.Fd);
  if (ptySlaveFd_ >= 0) close(ptySlaveFd_);
  for (const int fd : tcpListenFds_) close(fd);
  close(epollFd_);
  if (udpAnswerFd_ >= 0 && udpAnswerFd_ != udpFd_) close(udpAnswerFd_);
  if (udpFd_ >= 0) close(udpFd_);
  if (!comLinkPath_.empty()) unlink(comLinkPath_.c_str());
  if (log_ && log_ != stdout) std::fclose(log_);
  if (raw_ && raw_ != stdout) std::fclose(raw_);
  if (timing_ && timing_ != stdout) std::fclose(timing_);
}

void TSimulator::Open() {
  log_ = OpenLog(options_.LogPath);
  raw_ = OpenLog(options_.RawPath);
  timing_ = OpenLog(options_.TimingPath);
  if (options_.Pty) OpenPty();
  if (options_.TcpPort) OpenTcp();
  if (options_.UdpPort) OpenUdp();
  Announce("ready");
}

void TSimulator::Announce(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void TSimulator::OpenPty() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw SystemError("cannot open a pty");
  const std::string slavePath = ptsname(master);
  // Holding the slave open keeps the master readable while the program closes and reopens the port,
  // and lets the line be made raw before anyone else opens it: no echo, no line editing.
  ptySlaveFd_ = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (ptySlaveFd_ < 0) throw SystemError("cannot open " + slavePath);
  termios line{};
  tcgetattr(ptySlaveFd_, &line);
  cfmakeraw(&line);
  tcsetattr(ptySlaveFd_, TCSANOW, &line);
  SetNonBlocking(master);
  AddStream(TLinkKind::Pty, master);
  Announce("pty " + slavePath);
  if (options_.ComNumber > 0) OpenComLink(slavePath);
}

void TSimulator::OpenComLink(const std::string& slavePath) {
  namespace fs = std::filesystem;
  const fs::path directory(options_.PortsDir);
  fs::create_directories(directory);
  const fs::path link = directory / ("COM" + std::to_string(options_.ComNumber));
  std::error_code error;
  if (fs::exists(fs::symlink_status(link)) && !fs::is_symlink(fs::symlink_status(link)))
    throw std::runtime_error(link.string() + " exists and is not a link");
  fs::remove(link, error);
  fs::create_symlink(slavePath, link);
  comLinkPath_ = link.string();
  Announce("com " + comLinkPath_);
}

// Each listener is a scale of its own; a port given for several counts up from there.
void TSimulator::OpenTcp() {
  for (int i = 0; i < options_.TcpCount; ++i) {
    const int port = *options_.TcpPort == 0 ? 0 : *options_.TcpPort + i;
    const int fd = BoundSocket(SOCK_STREAM, options_.Host, port);
    if (listen(fd, 4) != 0) throw SystemError("listen");
    tcpListenFds_.push_back(fd);
    Watch(fd, kListenerTag | (tcpListenFds_.size() - 1), EPOLLIN);
    Announce("tcp " + options_.Host + " " + std::to_string(BoundPort(fd)));
  }
}

void TSimulator::OpenUdp() {
  udpFd_ = BoundSocket(SOCK_DGRAM, options_.Host, *options_.UdpPort);
  udpAnswerFd_ = options_.UdpAnswerFrom.empty() ? udpFd_ : BoundSocket(SOCK_DGRAM, options_.UdpAnswerFrom, 0);
  udpSession_ = std::make_unique<TScaleSession>(options_.Faults);
  Watch(udpFd_, kUdpTag, EPOLLIN);
  Announce("udp " + options_.Host + " " + std::to_string(BoundPort(udpFd_)));
}

void TSimulator::Run(const volatile std::sig_atomic_t& stop) {
  while (!stop) {
    ServeOnce(PollTimeoutMs());
    RunDueItems();
  }
}

int TSimulator::PollTimeoutMs() const {
  if (scheduled_.empty()) return -1;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(scheduled_.begin()->first - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, wait.count()));
}

void TSimulator::Watch(int fd, uint64_t tag, uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = tag;
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0) throw SystemError("epoll_ctl");
}

int TSimulator::AddStream(TLinkKind kind, int fd) {
  const int id = nextLinkId_++;
  streams_.emplace(id, TStreamLink(kind, fd, options_.Faults));
  Watch(fd, static_cast<uint64_t>(id), EPOLLIN);
  return id;
}

void TSimulator::WatchOutput(int id) {
  const auto found = streams_.find(id);
  if (found == streams_.end()) return;
  TStreamLink& link = found->second;
  const bool wanted = !link.Outbox.empty();
  if (wanted == link.WatchesOutput) return;
  link.WatchesOutput = wanted;
  epoll_event event{};
  event.events = EPOLLIN | (wanted ? EPOLLOUT : 0u);
  event.data.u64 = static_cast<uint64_t>(id);
  epoll_ctl(epollFd_, EPOLL_CTL_MOD, link.Fd, &event);
}

void TSimulator::ServeOnce(int timeoutMs) {
  epoll_event events[256];
  // Signals stay blocked outside this wait, so a stop request cannot slip in before it.
  sigset_t unblocked;
  sigemptyset(&unblocked);
  const int ready = epoll_pwait(epollFd_, events, 256, timeoutMs, &unblocked);
  for (int i = 0; i < ready; ++i) {
    const uint64_t tag = events[i].data.u64;
    if (tag == kUdpTag) {
      ReadUdp();
    } else if (tag & kListenerTag) {
      AcceptTcpClient(tcpListenFds_[tag & 0xFFFFFFFFu]);
    } else {
      const int id = static_cast<int>(tag);
      if (events[i].events & EPOLLOUT) FlushOutbox(id);
      if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) ReadStream(id);
    }
  }
}

void TSimulator::AcceptTcpClient(int listenFd) {
  const int client = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (client < 0) return;
  // Each write leaves at once, so a split answer reaches the client byte by byte.
  const int yes = 1;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  const int id = AddStream(TLinkKind::TcpClient, client);
  if (options_.TcpCount > 1) streams_.at(id).ScalePort = BoundPort(client);
}

void TSimulator::ReadStream(int id) {
  auto found = streams_.find(id);
  if (found == streams_.end()) return;
  TStreamLink& link = found->second;
  char buffer[kReadChunk];
  const ssize_t size = read(link.Fd, buffer, sizeof buffer);
  if (size < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (size <= 0) {
    CloseStream(id);
    return;
  }
  if (link.Closing) return;
  RecordRaw(buffer, static_cast<size_t>(size));
  link.Input.append(buffer, static_cast<size_t>(size));
  size_t lineFeed;
  while (!link.Closing && (lineFeed = link.Input.find('\n')) != std::string::npos) {
    const std::string command = Unframed(link.Input.substr(0, lineFeed), '\r');
    link.Input.erase(0, lineFeed + 1);
    HandleCommand(id, command, nullptr);
  }
}

void TSimulator::ReadUdp() {
  char buffer[kReadChunk];
  sockaddr_in sender{};
  socklen_t senderSize = sizeof sender;
  const ssize_t size = recvfrom(udpFd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &senderSize);
  if (size < 0) return;
  RecordRaw(buffer, static_cast<size_t>(size));
  HandleCommand(kUdpLinkId, Unframed(std::string(buffer, static_cast<size_t>(size)), '\0'), &sender);
}

void TSimulator::HandleCommand(int linkId, const std::string& command, const sockaddr_in* udpSender) {
  RecordCommand(command);
  if (linkId == kUdpLinkId) RecordTiming(udpAnswerLeft_, 0);
  else RecordTiming(streams_.at(linkId).AnswerLeft, streams_.at(linkId).ScalePort);
  if (linkId == kUdpLinkId) {
    if (udpClosed_) return;
    Schedule(linkId, udpSession_->Receive(command), udpSender);
    return;
  }
  Schedule(linkId, streams_.at(linkId).Session.Receive(command), nullptr);
}

void TSimulator::Schedule(int linkId, const TReaction& reaction, const sockaddr_in* udpTarget) {
  Clock::time_point& lastDue = linkId == kUdpLinkId ? udpLastDue_ : streams_.at(linkId).LastDue;
  Clock::time_point due = std::max(Clock::now() + std::chrono::milliseconds(options_.Faults.DelayMs), lastDue);
  TScheduled item{linkId, {}};
  if (udpTarget) {
    item.UdpTarget = *udpTarget;
    item.UdpTarget.sin_port = htons(static_cast<uint16_t>(options_.UdpReplyPort));
  }
  if (reaction.FloodBytes > 0) {
    const std::string flood = FloodText(static_cast<size_t>(reaction.FloodBytes));
    const size_t pieceSize = udpTarget ? kFloodDatagramBytes : flood.size();
    for (size_t at = 0; at < flood.size(); at += pieceSize) {
      item.Bytes = flood.substr(at, pieceSize);
      scheduled_.emplace(due, item);
      if (udpTarget) due += kFloodDatagramGap;
    }
  }
  const std::string answer = reaction.Answer.value_or("");
  if (options_.Faults.Split) {
    for (size_t i = 0; i < answer.size(); ++i) {
      item.Bytes = answer.substr(i, 1);
      if (i > 0) due += std::chrono::milliseconds(options_.Faults.SplitGapMs);
      scheduled_.emplace(due, item);
    }
  } else if (!answer.empty()) {
    item.Bytes = answer;
    scheduled_.emplace(due, item);
  }
  if (reaction.Repeat) {
    due += std::chrono::milliseconds(options_.Faults.RepeatGapMs);
    item.Bytes = answer;
    scheduled_.emplace(due, item);
  }
  if (reaction.CloseLink) {
    if (linkId != kUdpLinkId) streams_.at(linkId).Closing = true;
    item.Bytes.clear();
    item.Close = true;
    scheduled_.emplace(due, item);
  }
  lastDue = due;
}

void TSimulator::RunDueItems() {
  const Clock::time_point now = Clock::now();
  while (!scheduled_.empty() && scheduled_.begin()->first <= now) {
    const TScheduled item = scheduled_.begin()->second;
    scheduled_.erase(scheduled_.begin());
    Deliver(item);
  }
}

void TSimulator::Deliver(const TScheduled& item) {
  if (item.LinkId == kUdpLinkId) {
    if (item.Close) {
      udpClosed_ = true;
      return;
    }
    sendto(udpAnswerFd_, item.Bytes.data(), item.Bytes.size(), 0, reinterpret_cast<const sockaddr*>(&item.UdpTarget),
           sizeof item.UdpTarget);
    udpAnswerLeft_ = Clock::now();
    return;
  }
  auto found = streams_.find(item.LinkId);
  if (found == streams_.end()) return;
  if (item.Close && !found->second.CloseWhenFlushed) {
    found->second.CloseWhenFlushed = true;
    found->second.CloseDeadline = Clock::now() + kCloseGrace;
  }
  found->second.Outbox += item.Bytes;
  FlushOutbox(item.LinkId);
}

void TSimulator::FlushOutbox(int id) {
  const auto found = streams_.find(id);
  if (found == streams_.end()) return;
  TStreamLink& link = found->second;
  while (!link.Outbox.empty()) {
    const ssize_t written = write(link.Fd, link.Outbox.data(), link.Outbox.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      if (errno != EAGAIN) CloseStream(id);
      else WatchOutput(id);
      return;
    }
    link.Outbox.erase(0, static_cast<size_t>(written));
    if (link.Outbox.empty()) link.AnswerLeft = Clock::now();
  }
  WatchOutput(id);
  if (link.CloseWhenFlushed) CloseWhenRead(id);
}

// Hanging up a pty discards what its reader has not taken yet, so the last answer is given
// time to reach the reader (the kernel passes it on a little later) and to be read.
void TSimulator::CloseWhenRead(int id) {
  TStreamLink& link = streams_.at(id);
  int unread = 0;
  if (link.Kind == TLinkKind::Pty) ioctl(ptySlaveFd_, FIONREAD, &unread);
  const bool firstCheck = !link.CloseChecked;
  link.CloseChecked = true;
  if (link.Kind == TLinkKind::Pty && (firstCheck || unread > 0) && Clock::now() < link.CloseDeadline) {
    TScheduled check{id, {}};
    check.Close = true;
    scheduled_.emplace(Clock::now() + kCloseCheck, check);
    return;
  }
  CloseStream(id);
}

void TSimulator::CloseStream(int id) {
  auto found = streams_.find(id);
  if (found == streams_.end()) return;
  close(found->second.Fd);
  if (found->second.Kind == TLinkKind::Pty) {
    close(ptySlaveFd_);
    ptySlaveFd_ = -1;
    if (!comLinkPath_.empty()) unlink(comLinkPath_.c_str());
    comLinkPath_.clear();
  }
  streams_.erase(found);
}

void TSimulator::RecordRaw(const char* bytes, size_t size) {
  if (!raw_) return;
  std::fwrite(bytes, 1, size, raw_);
  std::fflush(raw_);
}

// A command's arrival, how long after the last answer on its link went out, and which of several
// TCP scales it reached.
void TSimulator::RecordTiming(const std::optional<Clock::time_point>& answerLeft, int scalePort) {
  if (!timing_) return;
  using Milliseconds = std::chrono::duration<double, std::milli>;
  const Clock::time_point now = Clock::now();
  std::fprintf(timing_, "%.3f ", Milliseconds(now - started_).count());
  if (answerLeft) std::fprintf(timing_, "%.3f", Milliseconds(now - *answerLeft).count());
  else std::fputc('-', timing_);
  if (scalePort > 0) std::fprintf(timing_, " %d", scalePort);
  std::fputc('\n', timing_);
  std::fflush(timing_);
}

void TSimulator::RecordCommand(const std::string& command) {
  if (!log_) return;
  std::fwrite(command.data(), 1, command.size(), log_);
  std::fputc('\n', log_);
  std::fflush(log_);
}
