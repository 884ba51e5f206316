#pragma once
// scaledb-send from its command line to its exit status, inside a running QCoreApplication.

#include <string>
#include <vector>

// 0 every target sent, 1 a target failed or the run was interrupted, 2 a usage error or a file
// that cannot be read.
int RunSendProgram(const std::vector<std::string>& words);
