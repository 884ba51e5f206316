#pragma once
// A ports directory of COM<n> links to pseudo-terminal slaves, made the system's port list for
// the life of the object.

#include "PtyLink.h"
#include "TempDir.h"

#include <map>
#include <memory>
#include <string>

class TPtyPorts {
 public:
  TPtyPorts();
  ~TPtyPorts();
  TPtyPorts(const TPtyPorts&) = delete;
  TPtyPorts& operator=(const TPtyPorts&) = delete;

  void Add(const std::string& name);
  void Remove(const std::string& name) { links_.erase(name); }
  // The pty master of a port, whose terminal settings are those the port's device holds.
  int Master(const std::string& name) const { return links_.at(name)->Master(); }

 private:
  TTempDir dir_;
  std::map<std::string, std::unique_ptr<TPtyLink>> links_;
};
