#include "ScaleLock.h"

#include "Escape.h"
#include "SessionSystem.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {
std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// How long a holder may take between taking its lock and writing its name into a new lock file.
constexpr auto kHolderWriteWait = std::chrono::milliseconds(100);
constexpr auto kHolderReadGap = std::chrono::milliseconds(5);

std::string Holder(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + kHolderWriteWait;
  std::string holder = ReadLockHolder(path);
  while (holder.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kHolderReadGap);
    holder = ReadLockHolder(path);
  }
  return holder;
}

// "pid 4711, scaledb-send" from the first line of the holder's "4711 scaledb-send\n".
std::string HolderText(const std::string& holder) {
  const std::string line = holder.substr(0, holder.find_first_of("\r\n"));
  const size_t space = line.find(' ');
  if (space == std::string::npos || space == 0 || space + 1 == line.size()) return "a program that did not say which";
  return "pid " + line.substr(0, space) + ", " + line.substr(space + 1);
}
}  // namespace

std::string LockDirectory() {
  if (const char* named = std::getenv("SCALEDB_LOCK_DIR"); named && *named == '/') return WithSlash(named);
  const std::string system = "/run/lock/scaledb/";
  if (IsWritableFolder("/run/lock") || IsWritableFolder(system)) return system;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime == '/' ? WithSlash(runtime) + "scaledb/" : system;
}

std::string LockFileName(const std::string& key) { return Escaped(key, TEscape::Percent) + ".lock"; }

TScaleLock::~TScaleLock() { Release(); }

TScaleLock::TOutcome TScaleLock::Take(const std::string& key, const std::string& program) {
  Release();
  const std::string folder = LockDirectory();
  if (!EnsureSharedFolder(folder.substr(0, folder.size() - 1)))
    return {false, false, "cannot take the lock of this scale: the folder " + folder + " cannot be written"};
  const std::string path = folder + LockFileName(key);
  const int fd = OpenLockFile(path);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE))
    return {true, false, "too many open files: no descriptor is left for the lock of this scale"};
  if (fd < 0) return {false, false, "cannot take the lock of this scale: " + path + ": " + std::strerror(errno)};
  if (!TryExclusiveLock(fd)) {
    CloseLockFile(fd);
    return {true, true, "busy: another sender (" + HolderText(Holder(path)) + ") is sending to this scale"};
  }
  WriteLockHolder(fd, std::to_string(ProcessId()) + " " + program + "\n");
  fd_ = fd;
  key_ = key;
  return {};
}

void TScaleLock::Release() {
  if (fd_ < 0) return;
  CloseLockFile(fd_);
  fd_ = -1;
  key_.clear();
}
