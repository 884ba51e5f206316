// A scale that sends 1 GB without a line feed to a TCP session: the session's memory must stay
// flat (the reply buffer keeps its cap), and after a line feed the transfer goes on.

#include "DatabaseTable.h"
#include "Session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {
constexpr size_t kFlood = size_t{1} << 30;
constexpr size_t kBlock = size_t{1} << 20;

int ListenOnLoopback(int& port) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener, 1) != 0) return -1;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return listener;
}

bool SendAll(int socket, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = send(socket, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Reads until `marker` has arrived; false when the connection ends first.
bool ReadUntil(int socket, const std::string& marker) {
  std::string received;
  char buffer[256];
  while (received.find(marker) == std::string::npos) {
    const ssize_t got = recv(socket, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    received.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

// Waits for the start command, floods, ends the line, acknowledges the start and waits for the
// first record: proof that the session survived. The acknowledgement follows the line feed after a
// pause, since two lines in one piece are read as one.
void HostileScale(int listener, std::atomic<bool>& recordArrived) {
  const int peer = accept(listener, nullptr, nullptr);
  const std::string flood(kBlock, 'A');
  bool alive = ReadUntil(peer, "SbP\r\n");
  for (size_t sent = 0; alive && sent < kFlood; sent += kBlock) alive = SendAll(peer, flood.data(), flood.size());
  alive = alive && SendAll(peer, "\n", 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string acknowledgement = "MbP\r\n";
  alive = alive && SendAll(peer, acknowledgement.data(), acknowledgement.size()) && ReadUntil(peer, "Sr1;flood\r\n");
  recordArrived = alive;
  close(peer);
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_GigabyteWithoutLineFeed(benchmark::State& state) {
  for (auto _ : state) {
    int port = 0;
    const int listener = ListenOnLoopback(port);
    if (listener < 0) {
      state.SkipWithError("no loopback listener");
      return;
    }
    std::atomic<bool> recordArrived = false;
    std::thread scale(HostileScale, listener, std::ref(recordArrived));

    TLinkSettings settings;
    settings.Kind = TLinkSettings::TKind::Tcp;
    settings.Host = "127.0.0.1";
    settings.Port = port;
    TScaleSession session(MakeLink(settings),
                          std::make_shared<const TDatabaseTable>(TDatabaseTable::Parse("1;flood\n")), 0);
    session.Engine().SetPaceMs(1);
    session.Link().Open();
    QElapsedTimer clock;
    clock.start();
    bool started = false;
    // Wakes the loop to look at the scale thread's progress.
    QTimer wake;
    wake.start(20);
    while (!recordArrived && clock.elapsed() < 600'000) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      if (!started && session.Link().State() == lsConnected) {
        session.Start();
        started = true;
      }
    }
    session.Link().Close();
    scale.join();
    close(listener);
    if (!recordArrived) state.SkipWithError("the session did not carry on after the flood");
    state.counters["peak_MB"] = PeakMegabytes();
    state.counters["flood_s"] = clock.elapsed() / 1000.0;
    std::printf("1 GB without a line feed over TCP: peak memory %.1f MB (limit 100 MB), %.1f s\n", PeakMegabytes(),
                clock.elapsed() / 1000.0);
  }
}
BENCHMARK(BM_GigabyteWithoutLineFeed)->Iterations(1)->Unit(benchmark::kSecond);
}  // namespace
