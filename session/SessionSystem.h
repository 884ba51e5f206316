#pragma once
// What the headless layer asks of the system: lock files, and who and where it runs.

#include <string>

// Opens (creating) a lock file; -1 with errno on failure.
int OpenLockFile(const std::string& path);
// True when the exclusive lock was taken; never waits.
bool TryExclusiveLock(int fd);
// Replaces the file's content; the holder's "pid program".
void WriteLockHolder(int fd, const std::string& text);
std::string ReadLockHolder(const std::string& path);
void CloseLockFile(int fd);
// Makes the folder, writable by everyone with the sticky bit (as /tmp), when it is missing;
// false when it is not there afterwards or cannot be written.
bool EnsureSharedFolder(const std::string& path);
bool IsWritableFolder(const std::string& path);
int ProcessId();
std::string UserName();
std::string HostName();
// Raises the soft limit of open files to the hard one: every scale's link holds a descriptor.
void RaiseOpenFilesLimit();
