#pragma once
// A ports directory of COM<n> links to pseudo-terminal slaves, made the system's port list for
// the life of the object.

#include "TempDir.h"

#include <map>
#include <string>

class TPtyPorts {
 public:
  TPtyPorts();
  ~TPtyPorts();
  TPtyPorts(const TPtyPorts&) = delete;
  TPtyPorts& operator=(const TPtyPorts&) = delete;

  void Add(const std::string& name);
  void Remove(const std::string& name);
  // The pty master of a port, whose terminal settings are those the port's device holds.
  int Master(const std::string& name) const { return masters_.at(name); }

 private:
  TTempDir dir_;
  std::map<std::string, int> masters_;
};
