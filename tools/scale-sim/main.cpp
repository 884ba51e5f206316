// scale-sim: a weighing scale on a pty, a TCP port or a UDP port, for tests and the demo.

#include "Options.h"
#include "Simulator.h"

#include <csignal>
#include <cstdio>
#include <exception>

namespace {
volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

// Stop signals are blocked except while the simulator waits, where they end the wait.
void InstallStopSignals() {
  struct sigaction action{};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
    sigaddset(&blocked, signal);
  }
  sigprocmask(SIG_BLOCK, &blocked, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}
}  // namespace

int main(int argc, char** argv) {
  try {
    const TSimOptions options = ParseOptions(argc, argv);
    if (options.Help) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    InstallStopSignals();
    TSimulator simulator(options);
    simulator.Open();
    simulator.Run(stopRequested);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "scale-sim: %s\n", error.what());
    return 2;
  }
}
