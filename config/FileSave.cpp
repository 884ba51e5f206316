#include "FileSave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace {
// As many links as the kernel follows in one path.
constexpr int kMaxLinkHops = 40;

std::string DirectoryOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// The file a chain of symbolic links ends at (the path itself when it is no link); 0 or an errno.
int FollowLinks(std::string path, std::string& target) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      target = path;
      return 0;
    }
    std::string link(PATH_MAX + 1, '\0');
    const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
    if (length < 0) return errno;
    if (static_cast<size_t>(length) == link.size()) return ENAMETOOLONG;
    link.resize(static_cast<size_t>(length));
    path = link.starts_with('/') ? link : DirectoryOf(path) + link;
  }
  return ELOOP;
}

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return 0;
}

// Writes from the current offset, cuts the file after the bytes, flushes and closes; the first
// failure wins. Writing before cutting keeps a shorter new content from needing new space.
int FinishFile(int fd, std::string_view bytes) {
  int failure = WriteAll(fd, bytes);
  if (failure == 0 && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) failure = errno;
  if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0) failure = errno;
  return failure;
}

// A new file beside `path`, created exclusively so that no other file is ever overwritten.
int CreateTemporaryFile(const std::string& path, std::string& temporaryPath) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporaryPath = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const int fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

void SyncDirectoryOf(const std::string& path) {
  const std::string directory = DirectoryOf(path);
  const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool IsRefusedByTheFolder(int failure) { return failure == EACCES || failure == EPERM || failure == EROFS; }

// Readers see the old file or the complete new one, never a part of it.
int ReplaceAtomically(const std::string& path, std::string_view bytes) {
  std::string temporaryPath;
  const int fd = CreateTemporaryFile(path, temporaryPath);
  if (fd < 0) return errno;
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);
  int failure = FinishFile(fd, bytes);
  if (failure == 0 && ::rename(temporaryPath.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    ::unlink(temporaryPath.c_str());
    return failure;
  }
  SyncDirectoryOf(path);
  return 0;
}

// For a file whose folder refuses new entries: the same file gets the whole new content.
int OverwriteInPlace(const std::string& path, std::string_view bytes) {
  // Non-blocking, so that a FIFO in place of the file cannot stall the save.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return EINVAL;
  }
  ::fcntl(fd, F_SETFL, 0);
  return FinishFile(fd, bytes);
}
}  // namespace

int SaveWholeFile(const std::string& path, std::string_view bytes) {
  std::string target;
  if (const int failure = FollowLinks(path, target); failure != 0) return failure;
  const int failure = ReplaceAtomically(target, bytes);
  if (!IsRefusedByTheFolder(failure)) return failure;
  // Where the folder refuses the new entry or the rename, the file itself may still be writable.
  return OverwriteInPlace(target, bytes) == 0 ? 0 : failure;
}
