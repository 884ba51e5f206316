#include "ScaleLock.h"

#include "Escape.h"
#include "SessionSystem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// "pid 4711, scaledb-send" from the holder's "4711 scaledb-send".
std::string HolderText(const std::string& holder) {
  const size_t space = holder.find(' ');
  if (holder.empty() || space == std::string::npos) return "a program that did not say which";
  std::string program = holder.substr(space + 1);
  while (!program.empty() && (program.back() == '\n' || program.back() == '\r')) program.pop_back();
  return "pid " + holder.substr(0, space) + ", " + program;
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
    return {false, "cannot take the lock of this scale: the folder " + folder + " cannot be written"};
  const std::string path = folder + LockFileName(key);
  const int fd = OpenLockFile(path);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE))
    return {true, "too many open files: no descriptor is left for the lock of this scale"};
  if (fd < 0) return {false, "cannot take the lock of this scale: " + path + ": " + std::strerror(errno)};
  if (!TryExclusiveLock(fd)) {
    CloseLockFile(fd);
    return {true, "busy: another sender (" + HolderText(ReadLockHolder(path)) + ") is sending to this scale"};
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
