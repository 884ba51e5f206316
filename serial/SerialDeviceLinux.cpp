// Linux serial devices: termios2, modem-line ioctls, input counters, epoll and an eventfd stop signal;
// and the file reads of the port survey.
// <termios.h> is not included: its struct termios clashes with the kernel's termios2 headers.

#include "PortSystem.h"
#include "SerialDevice.h"

#include <asm/termbits.h>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>

namespace {
using TClock = std::chrono::steady_clock;
constexpr uint32_t kNoInterval = 0xFFFFFFFF;
constexpr int kInputTag = 1;
constexpr int kOutputTag = 2;
constexpr int kStopTag = 3;

// Ptys and some USB adapters have no modem lines or counters: they answer as if the ioctl did not exist.
bool Unsupported(int error) { return error == ENOTTY || error == EINVAL; }

// What a descriptor answers once its device was unplugged or its pty's other end closed.
bool DeviceGoneError(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

int Ioctl(int fd, unsigned long request, void* argument) {
  return ioctl(fd, request, argument) < 0 ? errno : 0;
}

tcflag_t ByteSizeFlag(int byteSize) {
  switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

tcflag_t ParityFlags(TParityBits parity) {
  switch (parity) {
    case prOdd: return PARENB | PARODD;
    case prEven: return PARENB;
    case prMark: return PARENB | CMSPAR | PARODD;
    case prSpace: return PARENB | CMSPAR;
    default: return 0;
  }
}

// The classic rate code of a rate, or BOTHER with the rate in c_ospeed.
tcflag_t RateCode(int rate) {
  static const struct {
    int Rate;
    tcflag_t Code;
  } kRates[] = {{110, B110},     {300, B300},     {600, B600},       {1200, B1200},     {2400, B2400},
                {4800, B4800},   {9600, B9600},   {19200, B19200},   {38400, B38400},   {57600, B57600},
                {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& entry : kRates)
    if (entry.Rate == rate) return entry.Code;
  return BOTHER;
}

// What the Linux line discipline has no counterpart for is refused like a device refusal.
int RefusedByLinux(const TLineSettings& s) {
  if (s.BaudRate <= 0 || s.ByteSize < 5 || s.ByteSize > 8) return EINVAL;
  // The UART gives one and a half stop bits only as the "two" setting with five data bits.
  if (s.StopBits == sbOne5StopBits && s.ByteSize != 5) return EINVAL;
  if (s.StopBits == sbTwoStopBits && s.ByteSize == 5) return EINVAL;
  if (s.OutDsrFlow || s.DtrControl == dtrHandshake || s.DsrSensitivity) return EINVAL;
  if ((s.OutX || s.InX) && s.XonChar == s.XoffChar) return EINVAL;
  return 0;
}

void FillTermios(termios2& t, const TLineSettings& s) {
  t.c_iflag = (s.OutX ? IXON : 0) | (s.InX ? IXOFF : 0);
  // Without INPCK a byte with a parity error passes unchanged; with it the byte reads as NUL.
  if (s.CheckParity && s.ReplaceParityErrors) t.c_iflag |= INPCK;
  t.c_oflag = 0;
  t.c_lflag = 0;
  const tcflag_t keep = t.c_cflag & HUPCL;
  t.c_cflag = keep | CREAD | CLOCAL | RateCode(s.BaudRate) | ByteSizeFlag(s.ByteSize) | ParityFlags(s.Parity);
  if (s.StopBits != sbOneStopBit) t.c_cflag |= CSTOPB;
  if (s.OutCtsFlow || s.RtsControl == rtsHandshake) t.c_cflag |= CRTSCTS;
  t.c_ospeed = t.c_ispeed = static_cast<speed_t>(s.BaudRate);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
}

// Ptys answer no serial information; their driver forces eight bits without parity, as there is no wire.
bool IsVirtualLine(int fd) {
  serial_struct info{};
  return ioctl(fd, TIOCGSERIAL, &info) < 0 && Unsupported(errno);
}

// A driver that drops a flag or rounds the rate far away did not take the configuration.
bool Honoured(const termios2& wanted, const termios2& actual) {
  const tcflag_t checked = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;
  if ((wanted.c_cflag & checked) != (actual.c_cflag & checked)) return false;
  const double ratio = static_cast<double>(actual.c_ospeed) / wanted.c_ospeed;
  return ratio > 0.97 && ratio < 1.03;
}

int SetModemBit(int fd, int bit, bool on) {
  const int error = Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
  return Unsupported(error) ? 0 : error;
}

// Milliseconds left until `deadline`, or -1 for no deadline.
int RemainingMs(const TClock::time_point* deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - TClock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000'000));
}

int ShortestTimeout(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}
}  // namespace

int ReadDriverLineCounters(int fd, TLineCounters& counters) {
  serial_icounter_struct icount{};
  if (const int error = Ioctl(fd, TIOCGICOUNT, &icount)) return error;
  counters = {icount.frame, icount.parity, icount.overrun, icount.buf_overrun, icount.brk,
              icount.cts,   icount.dsr,    icount.rng,     icount.dcd};
  return 0;
}

int TSerialDevice::Open(const std::string& path, std::unique_ptr<TSerialDevice>& device,
                        TLineCounterReader readCounters) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = 0;
  if (!isatty(fd))
    error = ENOTTY;
  else if (flock(fd, LOCK_EX | LOCK_NB) < 0)  // TIOCEXCL alone does not stop a second opener run as root
    error = errno;
  else if (ioctl(fd, TIOCEXCL) < 0)
    error = errno;
  if (error) {
    ::close(fd);
    return error;
  }
  device.reset(new TSerialDevice(fd, std::move(readCounters)));
  return 0;
}

TSerialDevice::TSerialDevice(int fd, TLineCounterReader readCounters)
    : fd_(fd), readCounters_(std::move(readCounters)) {
  // The driver's counters run across sessions; what they held before this open is not ours.
  readCounters_(fd_, errorBaseline_);
}

TSerialDevice::~TSerialDevice() {
  if (rs485_) ApplyRtsToggle(false);
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
}

int TSerialDevice::ApplyLine(const TLineSettings& settings) {
  if (const int refusal = RefusedByLinux(settings)) return refusal;
  termios2 previous{};
  if (const int error = Ioctl(fd_, TCGETS2, &previous)) return error;
  termios2 wanted = previous;
  FillTermios(wanted, settings);
  int error = Ioctl(fd_, TCSETS2, &wanted);
  if (!error) {
    termios2 actual{};
    error = Ioctl(fd_, TCGETS2, &actual);
    if (!error && !IsVirtualLine(fd_) && !Honoured(wanted, actual)) error = EINVAL;
  }
  if (!error) error = ApplyModemLines(settings);
  if (error) {
    ioctl(fd_, TCSETS2, &previous);
    return error;
  }
  discardNull_ = settings.DiscardNull;
  return 0;
}

int TSerialDevice::ApplyModemLines(const TLineSettings& s) {
  if (const int error = SetModemBit(fd_, TIOCM_DTR, s.DtrControl == dtrEnable)) return error;
  if (s.RtsControl == rtsEnable || s.RtsControl == rtsDisable) {
    if (const int error = SetModemBit(fd_, TIOCM_RTS, s.RtsControl == rtsEnable)) return error;
  }
  if (s.RtsControl == rtsToggle || rs485_) return ApplyRtsToggle(s.RtsControl == rtsToggle);
  return 0;
}

// RTS on only while sending is the RS-485 mode of the driver; without it the setting is refused.
int TSerialDevice::ApplyRtsToggle(bool on) {
  serial_rs485 rs485{};
  if (const int error = Ioctl(fd_, TIOCGRS485, &rs485)) return on ? error : 0;
  if (on)
    rs485.flags = (rs485.flags | SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND) & ~SER_RS485_RTS_AFTER_SEND;
  else
    rs485.flags &= ~SER_RS485_ENABLED;
  const int error = Ioctl(fd_, TIOCSRS485, &rs485);
  if (!error) rs485_ = on;
  return on ? error : 0;
}

int TSerialDevice::ApplyTimeouts(const TTimeoutSettings& timeouts) {
  timeouts_ = timeouts;
  return 0;
}

// The kernel's tty queues have fixed sizes; the input size still sets the 80 % mark.
int TSerialDevice::ApplyQueueSizes(int inputSize, int outputSize) {
  if (inputSize < 0 || outputSize < 0) return EINVAL;
  inputSize_ = inputSize;
  return 0;
}

int TSerialDevice::WaitReady(short events, int timeoutMs) {
  pollfd entry{fd_, events, 0};
  const int result = poll(&entry, 1, timeoutMs);
  if (result == 0) return ETIMEDOUT;
  if (result < 0) return errno == EINTR ? 0 : errno;
  return 0;
}

int TSerialDevice::Write(const std::string& bytes, int& written) {
  written = 0;
  const uint64_t limit = uint64_t{timeouts_.WriteTotalMultiplier} * bytes.size() + timeouts_.WriteTotalConstant;
  const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(limit);
  const TClock::time_point* bound = limit > 0 ? &deadline : nullptr;
  while (static_cast<size_t>(written) < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - static_cast<size_t>(written));
    if (n > 0) {
      written += static_cast<int>(n);
      outputPending_ = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return errno;
    const int timeout = RemainingMs(bound);
    if (timeout == 0) break;  // the limit ran out: done with what was sent
    const int error = WaitReady(POLLOUT, timeout);
    if (error == ETIMEDOUT) break;
    if (error) return error;
  }
  return 0;
}

int TSerialDevice::Read(int count, std::string& bytes) {
  bytes.clear();
  const TTimeoutSettings& t = timeouts_;
  const bool immediate = t.ReadInterval == kNoInterval && t.ReadTotalMultiplier == 0 && t.ReadTotalConstant == 0;
  const uint64_t limit = uint64_t{t.ReadTotalMultiplier} * static_cast<uint64_t>(count) + t.ReadTotalConstant;
  const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(limit);
  const TClock::time_point* bound = limit > 0 ? &deadline : nullptr;
  const int interval = t.ReadInterval == 0 || t.ReadInterval == kNoInterval
                           ? -1
                           : static_cast<int>(std::min<uint32_t>(t.ReadInterval, 1'000'000'000));
  bool received = false;
  char chunk[4096];
  while (bytes.size() < static_cast<size_t>(count)) {
    const size_t wanted = std::min(sizeof chunk, static_cast<size_t>(count) - bytes.size());
    const ssize_t n = ::read(fd_, chunk, wanted);
    if (n > 0) {
      received = true;
      for (ssize_t i = 0; i < n; ++i)
        if (!(discardNull_ && chunk[i] == '\0')) bytes += chunk[i];
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return errno;
    if (immediate) break;
    const int timeout = ShortestTimeout(RemainingMs(bound), received ? interval : -1);
    if (timeout == 0) break;
    const int error = WaitReady(POLLIN, timeout);
    if (error == ETIMEDOUT) break;
    if (error) return error;
  }
  return 0;
}

int TSerialDevice::WaitingInput(int& count) {
  count = 0;
  if (const int error = Ioctl(fd_, FIONREAD, &count)) return error;
  readCounters_(fd_, errorBaseline_);
  return 0;
}

int TSerialDevice::TakeErrors(TComErrors& errors) {
  errors = 0;
  TLineCounters now;
  if (const int error = readCounters_(fd_, now)) return Unsupported(error) ? 0 : error;
  const TLineCounters& was = errorBaseline_;
  if (now.Frame != was.Frame) errors |= ComError(ceFrame);
  if (now.Parity != was.Parity) errors |= ComError(ceRxParity);
  if (now.Overrun != was.Overrun) errors |= ComError(ceOverrun);
  if (now.BufferOverrun != was.BufferOverrun) errors |= ComError(ceRxOver);
  if (now.Break != was.Break) errors |= ComError(ceBreak);
  errorBaseline_ = now;
  return 0;
}

int TSerialDevice::ModemLines(TComSignals& lines) {
  lines = 0;
  int bits = 0;
  if (const int error = Ioctl(fd_, TIOCMGET, &bits)) return Unsupported(error) ? 0 : error;
  if (bits & TIOCM_CTS) lines |= ComSignal(csCTS);
  if (bits & TIOCM_DSR) lines |= ComSignal(csDSR);
  if (bits & TIOCM_RI) lines |= ComSignal(csRing);
  if (bits & TIOCM_CD) lines |= ComSignal(csRLSD);
  return 0;
}

// Reads and writes run to completion on the calling thread, so nothing is left pending to abort.
int TSerialDevice::AbortTransfers() { return fcntl(fd_, F_GETFL) < 0 ? errno : 0; }

int TSerialDevice::DiscardBuffers() { return ioctl(fd_, TCFLSH, TCIOFLUSH) < 0 ? errno : 0; }

TDeviceEventWait::TDeviceEventWait(TSerialDevice& device, TComEvents mask, int& error)
    : device_(device), mask_(mask) {
  error = 0;
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  stop_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epoll_ < 0 || stop_ < 0) {
    error = errno;
    return;
  }
  epoll_event stop{EPOLLIN, {}};
  stop.data.u32 = kStopTag;
  // Edge-triggered: bytes a handler leaves unread do not wake the thread again until new ones arrive.
  epoll_event input{EPOLLIN | EPOLLET, {}};
  input.data.u32 = kInputTag;
  if (epoll_ctl(epoll_, EPOLL_CTL_ADD, stop_, &stop) < 0 ||
      epoll_ctl(epoll_, EPOLL_CTL_ADD, device.Handle(), &input) < 0) {
    error = errno;
    return;
  }
  if (mask & ComEvent(evTxEmpty)) {
    output_ = dup(device.Handle());
    epoll_event output{EPOLLOUT | EPOLLET, {}};
    output.data.u32 = kOutputTag;
    if (output_ < 0 || epoll_ctl(epoll_, EPOLL_CTL_ADD, output_, &output) < 0) {
      error = errno;
      return;
    }
  }
  device.readCounters_(device.Handle(), counts_);
}

TDeviceEventWait::~TDeviceEventWait() {
  for (int fd : {output_, stop_, epoll_})
    if (fd >= 0) ::close(fd);
}

void TDeviceEventWait::Stop() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
}

void TDeviceEventWait::ClearMask() {
  epoll_ctl(epoll_, EPOLL_CTL_DEL, device_.Handle(), nullptr);
  if (output_ >= 0) epoll_ctl(epoll_, EPOLL_CTL_DEL, output_, nullptr);
  mask_ = 0;
}

namespace {
int LineErrors(const TLineCounters& counts) {
  return counts.Frame + counts.Parity + counts.Overrun + counts.BufferOverrun;
}
}  // namespace

// Line changes, breaks and errors show as differences of the driver's counters.
TComEvents TDeviceEventWait::CountedEvents() {
  TLineCounters now;
  if (device_.readCounters_(device_.Handle(), now)) return 0;
  TComEvents events = 0;
  if (now.Cts != counts_.Cts) events |= ComEvent(evCTS);
  if (now.Dsr != counts_.Dsr) events |= ComEvent(evDSR);
  if (now.Ring != counts_.Ring) events |= ComEvent(evRing);
  if (now.Rlsd != counts_.Rlsd) events |= ComEvent(evRLSD);
  if (now.Break != counts_.Break) events |= ComEvent(evBreak);
  if (LineErrors(now) != LineErrors(counts_)) events |= ComEvent(evError);
  counts_ = now;
  return events;
}

bool TDeviceEventWait::OutputRanEmpty() {
  int queued = 0;
  if (!device_.outputPending_ || Ioctl(device_.Handle(), TIOCOUTQ, &queued) || queued != 0) return false;
  device_.outputPending_ = false;
  return true;
}

TDeviceEventWait::TWake TDeviceEventWait::Wait(TComEvents& occurred) {
  occurred = 0;
  if (gone_) return TWake::Gone;
  epoll_event ready[3];
  const int n = epoll_wait(epoll_, ready, 3, -1);
  if (n < 0 && errno != EINTR) return TWake::Stopped;  // a broken wait would only spin
  if (n <= 0) return TWake::Skipped;
  bool input = false;
  bool output = false;
  for (int i = 0; i < n; ++i) {
    if (ready[i].data.u32 == kStopTag) return TWake::Stopped;
    input = input || ready[i].data.u32 == kInputTag;
    output = output || ready[i].data.u32 == kOutputTag;
    gone_ = gone_ || (ready[i].events & (EPOLLHUP | EPOLLERR)) != 0;
  }
  if (input) {
    int waiting = 0;
    gone_ = DeviceGoneError(Ioctl(device_.Handle(), FIONREAD, &waiting)) || gone_;
    if (waiting > 0) occurred |= ComEvent(evRxChar);
    if (device_.InputSize() > 0 && waiting * 5 >= device_.InputSize() * 4) occurred |= ComEvent(evRx80Full);
  }
  if (output && OutputRanEmpty()) occurred |= ComEvent(evTxEmpty);
  occurred |= CountedEvents();
  occurred &= mask_;
  // What came with the hang-up is handed over first; the next wait tells of the hang-up.
  if (occurred) return TWake::Events;
  return gone_ ? TWake::Gone : TWake::Skipped;
}

int ReadDirectory(const std::string& directory, std::vector<std::string>& entries) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) return errno;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (!entry) break;
    const std::string name = entry->d_name;
    if (name != "." && name != "..") entries.push_back(name);
  }
  const int error = errno;
  closedir(dir);
  return error;
}

std::vector<std::string> DirectoryEntries(const std::string& directory) {
  std::vector<std::string> names;
  ReadDirectory(directory, names);
  return names;
}

bool EntryExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), target, sizeof target);
  return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

std::string ResolvedPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string SmallFileText(const std::string& path, size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {};
  std::string text;
  char chunk[4096];
  while (text.size() < limit) {
    const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

TFileOwnership OwnershipOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return {};
  return {true, info.st_uid, info.st_gid, static_cast<unsigned>(info.st_mode & 07777)};
}

TUserIdentity CurrentUser() {
  TUserIdentity user;
  user.Uid = getuid();
  user.Groups.push_back(getegid());
  const int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 0)));
  if (count > 0 && getgroups(count, groups.data()) == count) user.Groups.insert(user.Groups.end(), groups.begin(), groups.end());
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(user.Uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) user.Name = found->pw_name;
  return user;
}
