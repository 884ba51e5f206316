#pragma once
// What the headless layer asks of the system: lock files, the ledger's file, and who and where
// it runs.

#include <cstdint>
#include <optional>
#include <string>

// Opens (creating) a lock file; -1 with errno on failure.
int OpenLockFile(const std::string& path);
// True when the exclusive lock was taken; never waits.
bool TryExclusiveLock(int fd);
// Replaces the file's content with the holder's "pid program\n"; a reader never finds it empty
// once it has been written.
void WriteLockHolder(int fd, const std::string& text);
std::string ReadLockHolder(const std::string& path);
void CloseLockFile(int fd);
// Makes the folder, writable by everyone with the sticky bit (as /tmp), when it is missing;
// false when it is not there afterwards or cannot be written.
bool EnsureSharedFolder(const std::string& path);
bool IsWritableFolder(const std::string& path);
// Which file a path names, as the system tells files apart.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  bool operator==(const TFileIdentity&) const = default;
};
// None when the path names no file.
std::optional<TFileIdentity> FileIdentity(const std::string& path);
// Renames `from` to `to` unless `to` exists; false with errno (EEXIST when it does).
bool RenameWithoutReplacing(const std::string& from, const std::string& to);
int ProcessId();
std::string UserName();
std::string HostName();
// Raises the soft limit of open files to the hard one: every scale's link holds a descriptor.
void RaiseOpenFilesLimit();
