#pragma once
// What the port survey asks of the system: directories, links, small files, owners, and who runs
// this process. Every path is given whole, so a test can point them into a fake tree.

#include <cstddef>
#include <string>
#include <vector>

// The entry names of a directory, without "." and ".."; none when it cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& directory);
// The same into `entries`: 0, or the errno of the failure to read the directory.
int ReadDirectory(const std::string& directory, std::vector<std::string>& entries);
// Whether the path names anything, a link that leads nowhere too.
bool EntryExists(const std::string& path);
// The text a symbolic link holds; empty when the path is no link.
std::string LinkTarget(const std::string& path);
// The path with every link resolved; empty when it leads nowhere.
std::string ResolvedPath(const std::string& path);
// At most `limit` bytes of a file; empty when it cannot be read.
std::string SmallFileText(const std::string& path, size_t limit = 4096);

struct TFileOwnership {
  bool Exists = false;
  unsigned Uid = 0;
  unsigned Gid = 0;
  unsigned Mode = 0;  // the permission bits
};
// Of what the path leads to.
TFileOwnership OwnershipOf(const std::string& path);

struct TUserIdentity {
  std::string Name;
  unsigned Uid = 0;
  std::vector<unsigned> Groups;  // those this process holds now: the effective and the supplementary ones
};
TUserIdentity CurrentUser();
