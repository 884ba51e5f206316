#include "ScaleSimProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

namespace {
constexpr int kStartTimeoutMs = 10000;

[[noreturn]] void ExecSimulator(const std::vector<std::string>& arguments, int stdoutFd) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  dup2(stdoutFd, STDOUT_FILENO);
  std::vector<std::string> words{TScaleSimProcess::ExecutablePath()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}
}  // namespace

TScaleSimProcess::TScaleSimProcess(const std::vector<std::string>& arguments) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    close(pipeFds[0]);
    ExecSimulator(arguments, pipeFds[1]);
  }
  close(pipeFds[1]);
  try {
    ReadAnnouncements(pipeFds[0]);
  } catch (...) {
    close(pipeFds[0]);
    Stop();
    throw;
  }
  close(pipeFds[0]);
}

TScaleSimProcess::~TScaleSimProcess() { Stop(); }

void TScaleSimProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void TScaleSimProcess::ReadAnnouncements(int fd) {
  std::string pending;
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, kStartTimeoutMs) <= 0) throw std::runtime_error("scale-sim did not get ready");
    char buffer[512];
    const ssize_t size = read(fd, buffer, sizeof buffer);
    if (size <= 0) throw std::runtime_error("scale-sim ended before it was ready");
    pending.append(buffer, static_cast<size_t>(size));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (line == "ready") return;
      TakeAnnouncement(line);
    }
  }
}

void TScaleSimProcess::TakeAnnouncement(const std::string& line) {
  std::istringstream words(line);
  std::string kind, first, second;
  words >> kind >> first >> second;
  if (kind == "pty") ptyPath_ = first;
  else if (kind == "com") comLinkPath_ = first;
  else if (kind == "tcp") {
    tcpPorts_.push_back(std::stoi(second));
    tcpPort_ = tcpPorts_.front();
  }
  else if (kind == "udp") udpPort_ = std::stoi(second);
}
