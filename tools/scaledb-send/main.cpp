// scaledb-send: sends a database file to one or many scales from the command line.

#include "SendProgram.h"

#include <QCoreApplication>

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  // A reader that goes away (scaledb-send --ports | head -0) makes a write fail with EPIPE, which
  // the program says and exits 1 on, instead of ending it unheard.
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication application(argc, argv);
  return RunSendProgram(std::vector<std::string>(argv + 1, argv + argc));
}
