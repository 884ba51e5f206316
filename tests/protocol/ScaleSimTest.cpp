#include "ScaleSimProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

namespace {
constexpr int kPatienceMs = 5000;

class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int OpenRawTerminal(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return fd;
  termios line{};
  tcgetattr(fd, &line);
  cfmakeraw(&line);
  tcsetattr(fd, TCSANOW, &line);
  return fd;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int ConnectTcp(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address = Loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << "connect";
  return fd;
}

int BoundUdp(int* port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in address = Loopback(0);
  bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
  *port = ntohs(bound.sin_port);
  return fd;
}

void Send(int fd, const std::string& bytes) { ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

// Reads until `size` bytes have come, the peer closes, or the patience runs out.
std::string ReadBytes(int fd, size_t size, int patienceMs = kPatienceMs) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
  while (received.size() < size && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 50) <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, size - received.size()));
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
  }
  return received;
}

std::string ReceiveDatagram(int fd) {
  pollfd wait{fd, POLLIN, 0};
  if (poll(&wait, 1, kPatienceMs) <= 0) return {};
  std::string buffer(65536, '\0');
  const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
  return got > 0 ? buffer.substr(0, static_cast<size_t>(got)) : std::string();
}

bool ClosedByPeer(int fd) {
  pollfd wait{fd, POLLIN, 0};
  if (poll(&wait, 1, kPatienceMs) <= 0) return false;
  char byte;
  return read(fd, &byte, 1) <= 0;
}

template <typename Condition>
bool Eventually(Condition condition) {
  for (int waited = 0; waited < kPatienceMs; waited += 20) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}
}  // namespace

TEST(ScaleSimPty, AnswersEveryCommandAndLogsWhatArrived) {
  TTempDir dir;
  TScaleSimProcess sim({"--pty", "--log", dir.File("log"), "--raw", dir.File("raw")});
  TFd port(OpenRawTerminal(sim.PtyPath()));
  ASSERT_GE(port.get(), 0);
  const std::string commands = "SbP\r\nSbU\r\nSbS\r\nSra;b;;\r\nSr\r\nSe\r\nXx\r\nSr1\n";
  Send(port.get(), commands);
  const std::string answers = "MbP\r\nMbU\r\nMbS\r\nMr\r\nMr\r\nMe\r\nMr\r\n";
  EXPECT_EQ(ReadBytes(port.get(), answers.size()), answers);
  sim.Stop();
  EXPECT_EQ(dir.Read("log"), "SbP\nSbU\nSbS\nSra;b;;\nSr\nSe\nXx\nSr1\n");
  EXPECT_EQ(dir.Read("raw"), commands);
}

TEST(ScaleSimPty, ComLinkPointsAtTheSlaveAndGoesAwayWithTheSimulator) {
  TTempDir dir;
  const std::string ports = dir.File("ports");
  std::filesystem::path link;
  {
    TScaleSimProcess sim({"--com", "7", "--ports-dir", ports});
    link = sim.ComLinkPath();
    EXPECT_EQ(link, std::filesystem::path(ports) / "COM7");
    EXPECT_EQ(std::filesystem::read_symlink(link), sim.PtyPath());
    TFd port(OpenRawTerminal(link));
    Send(port.get(), "SbP\r\n");
    EXPECT_EQ(ReadBytes(port.get(), 5), "MbP\r\n");
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(ScaleSimPty, PortsDirectoryComesFromTheEnvironment) {
  TTempDir dir;
  setenv("SCALEDB_PORTS_DIR", dir.Path().c_str(), 1);
  TScaleSimProcess sim({"--com", "2"});
  unsetenv("SCALEDB_PORTS_DIR");
  EXPECT_EQ(sim.ComLinkPath(), dir.File("COM2"));
}

TEST(ScaleSimPty, ClosesThePortAfterTheGivenRecords) {
  TTempDir dir;
  TScaleSimProcess sim({"--com", "1", "--ports-dir", dir.Path(), "--close-after", "2"});
  TFd port(OpenRawTerminal(sim.PtyPath()));
  Send(port.get(), "SbP\r\nSr1\r\nSr2\r\n");
  EXPECT_EQ(ReadBytes(port.get(), 13), "MbP\r\nMr\r\nMr\r\n");
  EXPECT_TRUE(ClosedByPeer(port.get()));
  EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(std::filesystem::symlink_status(dir.File("COM1"))); }));
}

TEST(ScaleSimFaults, GarblesAndDropsEveryKthRecordCountingResends) {
  TScaleSimProcess sim({"--pty", "--garble-every", "3", "--drop-every", "4"});
  TFd port(OpenRawTerminal(sim.PtyPath()));
  Send(port.get(), "Sr1\r\nSr2\r\nSr3\r\nSr3\r\nSr4\r\nSe\r\n");
  const std::string answers = "Mr\r\nMr\r\nMr.\r\nMr\r\nMe\r\n";
  EXPECT_EQ(ReadBytes(port.get(), answers.size()), answers) << "record 4 (the resent 3) is dropped";
}

TEST(ScaleSimFaults, RefusesEveryKthRecordWithErUnlessItIsDropped) {
  TScaleSimProcess sim({"--pty", "--refuse-every", "2", "--drop-every", "4"});
  TFd port(OpenRawTerminal(sim.PtyPath()));
  Send(port.get(), "Sr1\r\nSr2\r\nSr2\r\nSr3\r\nSr4\r\nSe\r\n");
  const std::string answers = "Mr\r\nEr\r\nMr\r\nMr\r\nMe\r\n";
  EXPECT_EQ(ReadBytes(port.get(), answers.size()), answers) << "record 4 (Sr3) is dropped, not refused";
}

TEST(ScaleSimFaults, DelayedAnswerComesLaterAndInOrder) {
  TScaleSimProcess sim({"--pty", "--delay", "300"});
  TFd port(OpenRawTerminal(sim.PtyPath()));
  Send(port.get(), "SbP\r\nSe\r\n");
  EXPECT_EQ(ReadBytes(port.get(), 1, 100), "");
  const std::string answers = "MbP\r\nMe\r\n";
  EXPECT_EQ(ReadBytes(port.get(), answers.size()), answers);
}

TEST(ScaleSimTcp, FloodsWithoutALineFeedBeforeTheAnswerAndFallsSilentAfterTheGivenRecords) {
  TScaleSimProcess sim({"--tcp", "0", "--flood-before", "2", "1048576", "--silent-after", "2"});
  TFd client(ConnectTcp(sim.TcpPort()));
  Send(client.get(), "SbP\r\nSr1\r\nSr2\r\nSr3\r\nSe\r\nSbP\r\n");
  const std::string received = ReadBytes(client.get(), 20 + (1 << 20), 1000);
  ASSERT_EQ(received.size(), 13u + (1 << 20)) << "nothing after the second record's answer";
  EXPECT_EQ(received.substr(0, 9), "MbP\r\nMr\r\n");
  EXPECT_EQ(received.find('\n', 9), 9u + (1 << 20) + 3);
  EXPECT_EQ(received.substr(9, 4), "abcd");
  EXPECT_EQ(received.substr(received.size() - 4), "Mr\r\n");
}

TEST(ScaleSimTcp, AnswersTheClientAndDisconnectsItAfterTheGivenRecords) {
  TTempDir dir;
  TScaleSimProcess sim({"--tcp", "0", "--close-after", "1", "--log", dir.File("log")});
  ASSERT_GT(sim.TcpPort(), 0);
  {
    TFd client(ConnectTcp(sim.TcpPort()));
    Send(client.get(), "SbU\r\nSrx;y\r\n");
    EXPECT_EQ(ReadBytes(client.get(), 9), "MbU\r\nMr\r\n");
    EXPECT_TRUE(ClosedByPeer(client.get()));
  }
  TFd again(ConnectTcp(sim.TcpPort()));
  Send(again.get(), "Se\r\n");
  EXPECT_EQ(ReadBytes(again.get(), 4), "Me\r\n") << "the listener stays open";
  sim.Stop();
  EXPECT_EQ(dir.Read("log"), "SbU\nSrx;y\nSe\n");
}

TEST(ScaleSimTcp, TimesEachCommandFromTheLastAnswerOnItsLink) {
  TTempDir dir;
  TScaleSimProcess sim({"--tcp", "0", "--timing", dir.File("timing")});
  TFd client(ConnectTcp(sim.TcpPort()));
  Send(client.get(), "SbP\r\n");
  EXPECT_EQ(ReadBytes(client.get(), 5), "MbP\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Send(client.get(), "Se\r\n");
  EXPECT_EQ(ReadBytes(client.get(), 4), "Me\r\n");
  sim.Stop();
  std::istringstream lines(dir.Read("timing"));
  double firstArrival = 0, secondArrival = 0, gap = 0;
  std::string noGap;
  lines >> firstArrival >> noGap >> secondArrival >> gap;
  EXPECT_EQ(noGap, "-") << "no answer went out before the first command";
  EXPECT_GE(gap, 50.0);
  EXPECT_GE(secondArrival - firstArrival, gap);
}

TEST(ScaleSimUdp, AnswersAtTheReplyPortAndSplitsIntoSingleByteDatagrams) {
  int replyPort = 0;
  TFd endpoint(BoundUdp(&replyPort));
  TTempDir dir;
  TScaleSimProcess sim(
      {"--udp", "0", "--udp-reply-port", std::to_string(replyPort), "--split", "--raw", dir.File("raw")});
  const sockaddr_in scale = Loopback(sim.UdpPort());
  const std::string command("Sra;b\0", 6);
  sendto(endpoint.get(), command.data(), command.size(), 0, reinterpret_cast<const sockaddr*>(&scale), sizeof scale);
  std::string datagrams;
  for (int i = 0; i < 4; ++i) {
    const std::string piece = ReceiveDatagram(endpoint.get());
    EXPECT_EQ(piece.size(), 1u);
    datagrams += piece;
  }
  EXPECT_EQ(datagrams, "Mr\r\n");
  sim.Stop();
  EXPECT_EQ(dir.Read("raw"), command);
}

TEST(ScaleSimUdp, FloodsInDatagramsOfAtMost60000BytesAndSendsADoubledAnswerInOne) {
  int replyPort = 0;
  TFd endpoint(BoundUdp(&replyPort));
  TScaleSimProcess sim({"--udp", "0", "--udp-reply-port", std::to_string(replyPort), "--flood-before", "1", "150000",
                        "--double-every", "2"});
  const sockaddr_in scale = Loopback(sim.UdpPort());
  for (const char* record : {"Sr1", "Sr2"})
    sendto(endpoint.get(), record, 4, 0, reinterpret_cast<const sockaddr*>(&scale), sizeof scale);
  for (const size_t size : {60000u, 60000u, 30000u}) {
    const std::string piece = ReceiveDatagram(endpoint.get());
    EXPECT_EQ(piece.size(), size);
    EXPECT_EQ(piece.find('\n'), std::string::npos);
  }
  EXPECT_EQ(ReceiveDatagram(endpoint.get()), "Mr\r\n");
  EXPECT_EQ(ReceiveDatagram(endpoint.get()), "Mr\r\nMr\r\n");
}

TEST(ScaleSimCommandLine, RefusesWhatItCannotServe) {
  for (const char* arguments : {"", "--tcp 1 --host 192.168.1.1", "--com 1 --ports-dir", "--garble-every 0 --pty",
                                "--frobnicate", "--pty --flood-before 1", "--pty --flood-before 1 0"}) {
    const std::string command = "env -u SCALEDB_PORTS_DIR " + TScaleSimProcess::ExecutablePath() + " " +
                                arguments + " >/dev/null 2>&1";
    EXPECT_NE(std::system(command.c_str()), 0) << arguments;
  }
  EXPECT_EQ(std::system((TScaleSimProcess::ExecutablePath() + " --help >/dev/null").c_str()), 0);
}
