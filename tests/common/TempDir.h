#pragma once
// A fresh directory that is removed with everything in it when the test ends.

#include <string>

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The directory's path with a trailing '/'.
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};
