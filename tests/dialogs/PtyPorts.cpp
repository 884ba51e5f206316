#include "PtyPorts.h"

#include <cstdlib>

TPtyPorts::TPtyPorts() { setenv("SCALEDB_PORTS_DIR", dir_.Path().c_str(), 1); }

TPtyPorts::~TPtyPorts() {
  links_.clear();
  unsetenv("SCALEDB_PORTS_DIR");
}

void TPtyPorts::Add(const std::string& name) { links_[name] = std::make_unique<TPtyLink>(dir_.Path(), name); }
