#include "PtyPorts.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <cstdlib>

TPtyPorts::TPtyPorts() { setenv("SCALEDB_PORTS_DIR", dir_.Path().c_str(), 1); }

TPtyPorts::~TPtyPorts() {
  unsetenv("SCALEDB_PORTS_DIR");
  for (const auto& [name, master] : masters_) close(master);
}

void TPtyPorts::Add(const std::string& name) {
  int master = -1, slave = -1;
  char slaveName[256];
  ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
  close(slave);
  masters_[name] = master;
  ASSERT_EQ(symlink(slaveName, dir_.File(name).c_str()), 0);
}

void TPtyPorts::Remove(const std::string& name) {
  unlink(dir_.File(name).c_str());
  close(masters_.at(name));
  masters_.erase(name);
}
