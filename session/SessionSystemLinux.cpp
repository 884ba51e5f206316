#include "SessionSystem.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

// A lock file is opened by every user who sends to its scale, the desktop's and the system
// service's alike: it is made writable for all whatever the umask, and an existing one is opened
// without O_CREAT, which a sticky folder refuses for another user's file (fs.protected_regular).
int OpenLockFile(const std::string& path) {
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 || errno != ENOENT) return fd;
    const int created = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (created >= 0) {
      ::fchmod(created, 0666);
      return created;
    }
    if (errno != EEXIST) return -1;
  }
}

bool TryExclusiveLock(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

// Written over the old text, then cut to its length: emptied first, a reader could find nothing.
void WriteLockHolder(int fd, const std::string& text) {
  if (::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()))
    static_cast<void>(::ftruncate(fd, static_cast<off_t>(text.size())));
}

std::string ReadLockHolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return {};
  char text[256];
  const ssize_t size = ::read(fd, text, sizeof text);
  ::close(fd);
  return size > 0 ? std::string(text, static_cast<size_t>(size)) : std::string();
}

void CloseLockFile(int fd) { ::close(fd); }

bool IsWritableFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool EnsureSharedFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 01777) == 0) ::chmod(path.c_str(), 01777);
  return IsWritableFolder(path);
}

std::optional<TFileIdentity> FileIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return TFileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// A file system without RENAME_NOREPLACE still refuses a hard link onto an existing name.
bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  return ::unlink(from.c_str()) == 0;
}

int ProcessId() { return static_cast<int>(::getpid()); }

std::string UserName() {
  const passwd* entry = ::getpwuid(::getuid());
  return entry && entry->pw_name ? entry->pw_name : std::to_string(::getuid());
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

void RaiseOpenFilesLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}
