#include "PtyLink.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

TPtyLink::TPtyLink(const std::string& directory, const std::string& name) : link_(directory + name) {
  char path[128];
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master_, &slave_, path, &raw, nullptr) < 0) throw std::runtime_error("openpty failed");
  slavePath_ = path;
  if (symlink(slavePath_.c_str(), link_.c_str()) < 0) throw std::runtime_error("symlink failed");
}

TPtyLink::~TPtyLink() {
  unlink(link_.c_str());
  close(slave_);
  HangUp();
}

void TPtyLink::HangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void TPtyLink::Send(const std::string& bytes) const {
  if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("pty write failed");
}

std::string TPtyLink::Receive(size_t expected, int timeoutMs) const {
  std::string received;
  QElapsedTimer timer;
  timer.start();
  while (received.size() < expected && timer.elapsed() < timeoutMs) {
    pollfd entry{master_, POLLIN, 0};
    if (poll(&entry, 1, 50) <= 0) continue;
    char chunk[256];
    const ssize_t n = read(master_, chunk, sizeof chunk);
    if (n > 0) received.append(chunk, static_cast<size_t>(n));
  }
  return received;
}
