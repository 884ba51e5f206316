// scaledb-send: sends a database file to one or many scales from the command line.

#include "SendProgram.h"

#include <QCoreApplication>

#include <string>
#include <vector>

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  return RunSendProgram(std::vector<std::string>(argv + 1, argv + argc));
}
