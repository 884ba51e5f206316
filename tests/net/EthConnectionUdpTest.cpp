#include "EthConnection.h"
#include "NetTestSupport.h"
#include "UDPServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {
[[maybe_unused]] const bool kPrivateNetwork = EnterPrivateNetwork();

using States = std::vector<intptr_t>;
constexpr int kLocalPort = CEthConnection::kUdpLocalPort;

// The connection's UDP endpoint on port 1001 and a scale stand-in on a loopback port.
class EthConnectionUdp : public ::testing::Test {
 protected:
  void SetUp() override {
    ConnectionSettings.Host = kLoopback;
    ConnectionSettings.Port = scale.Port();
    connection = std::make_unique<CEthConnection>(&recorder);
    connection->OnReply = [this](const std::string& text, int length) {
      replies.push_back(text);
      lengthsMatch = lengthsMatch && length == static_cast<int>(text.size());
      onGuiThread = onGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    };
    connection->OnOpenFailure = [this](const std::string& reason) { failures.push_back(reason); };
  }

  void Toggle() { connection->ToggleConnection(1, ConnectionSettings.Host, ConnectionSettings.Port); }

  // Opens the endpoint and takes the one-byte datagram it sends on opening.
  void Open() {
    Toggle();
    ASSERT_TRUE(scale.Receive().has_value());
  }

  bool WaitForReplies(size_t count) {
    return QTest::qWaitFor([&] { return replies.size() >= count; });
  }

  TUdpPeer scale;
  TStateRecorder recorder;
  std::unique_ptr<CEthConnection> connection;
  std::vector<std::string> replies;
  std::vector<std::string> failures;
  bool lengthsMatch = true;
  bool onGuiThread = true;
};
}  // namespace

TEST_F(EthConnectionUdp, OpeningPostsTwoAtOnceAndSendsOneZeroByteFromPort1001) {
  Toggle();
  EXPECT_EQ(connection->State, 2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.States.empty(); }));
  EXPECT_EQ(recorder.States, States{2});
  const auto greeting = scale.Receive();
  ASSERT_TRUE(greeting.has_value());
  EXPECT_EQ(greeting->Bytes, std::string(1, '\0'));
  EXPECT_EQ(greeting->SenderPort, kLocalPort);
  EXPECT_TRUE(failures.empty());
}

TEST_F(EthConnectionUdp, CommandsGoOutWithOneZeroByteFromPort1001) {
  Open();
  connection->SendUDP("Se");
  connection->SendUDP("");
  const auto end = scale.Receive();
  const auto empty = scale.Receive();
  ASSERT_TRUE(end && empty);
  EXPECT_EQ(end->Bytes, std::string("Se\0", 3));
  EXPECT_EQ(end->SenderPort, kLocalPort);
  EXPECT_EQ(empty->Bytes, std::string(1, '\0'));
}

TEST_F(EthConnectionUdp, LongCommandGoesWholeInOneDatagram) {
  Open();
  const std::string record = "Sr" + std::string(300, 'a');
  connection->SendUDP(record);
  const auto datagram = scale.Receive();
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(datagram->Bytes, record + '\0');
}

TEST_F(EthConnectionUdp, NothingIsSentWhileClosedOrToANameOrABadPort) {
  connection->SendUDP("SbP");
  EXPECT_FALSE(scale.Receive(100).has_value());
  ConnectionSettings.Host = "localhost";
  Toggle();
  EXPECT_EQ(connection->State, 2);
  connection->SendUDP("SbP");
  EXPECT_FALSE(scale.Receive(100).has_value());
  ConnectionSettings.Host = kLoopback;
  ConnectionSettings.Port = scale.Port() + 65536;
  connection->SendUDP("SbP");
  EXPECT_FALSE(scale.Receive(100).has_value());
}

TEST_F(EthConnectionUdp, PortOutsideSixteenBitsOpensButSendsNothing) {
  ConnectionSettings.Port = scale.Port() + 65536;
  Toggle();
  EXPECT_EQ(connection->State, 2);
  EXPECT_FALSE(scale.Receive(100).has_value());
  EXPECT_EQ(ConnectionSettings.Port, scale.Port() + 65536);
}

TEST_F(EthConnectionUdp, DatagramTextsReachTheReplyHandlerOnTheGuiThreadInOrder) {
  Open();
  scale.SendTo(kLocalPort, "Mr\r\n");
  scale.SendTo(kLocalPort, "Me\n");
  ASSERT_TRUE(WaitForReplies(2));
  EXPECT_EQ(replies, (std::vector<std::string>{"Mr\r\n", "Me\n"}));
  EXPECT_TRUE(lengthsMatch);
  EXPECT_TRUE(onGuiThread);
}

TEST_F(EthConnectionUdp, DatagramsAreCutAtZeroBytesAndTo100Bytes) {
  Open();
  scale.SendTo(kLocalPort, "");
  scale.SendTo(kLocalPort, std::string("\0Mr", 3));
  scale.SendTo(kLocalPort, std::string("Mr\0xyz", 6));
  scale.SendTo(kLocalPort, std::string(150, 'm'));
  ASSERT_TRUE(WaitForReplies(2));
  QTest::qWait(50);
  EXPECT_EQ(replies, (std::vector<std::string>{"Mr", std::string(100, 'm')}));
}

TEST_F(EthConnectionUdp, OversizedDatagramIsDroppedAndTheNextReceived) {
  Open();
  scale.SendTo(kLocalPort, std::string(8193, 'x'));
  scale.SendTo(kLocalPort, "Mr\n");
  ASSERT_TRUE(WaitForReplies(1));
  QTest::qWait(50);
  EXPECT_EQ(replies, std::vector<std::string>{"Mr\n"});
}

TEST_F(EthConnectionUdp, ClosingPostsZeroQuicklyAndNothingArrivesAfterwards) {
  Open();
  scale.SendTo(kLocalPort, "Mr\n");
  ASSERT_TRUE(WaitForReplies(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  QElapsedTimer clock;
  clock.start();
  Toggle();
  EXPECT_LT(clock.elapsed(), TUDPListenerThread::kWaitTimeMs - 100);
  EXPECT_EQ(connection->State, 0);
  scale.SendTo(kLocalPort, "Mr\n");
  QTest::qWait(100);
  EXPECT_EQ(replies.size(), 1u);
  EXPECT_EQ(recorder.States, (States{2, 0}));
  Open();
  QTest::qWait(20);
  EXPECT_EQ(recorder.States, (States{2, 0, 2}));
}

TEST_F(EthConnectionUdp, DestructionWhileTextIsQueuedDropsIt) {
  Open();
  scale.SendTo(kLocalPort, "Mr\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  connection.reset();
  QTest::qWait(50);
  EXPECT_TRUE(replies.empty());
}

TEST_F(EthConnectionUdp, TakenPortReportsZeroAndTellsWhyThenOpensOnceFreed) {
  auto occupant = std::make_unique<TUdpPeer>(kLocalPort);
  Toggle();
  EXPECT_EQ(connection->State, 0);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("port 1001 is already in use"), std::string::npos);
  EXPECT_FALSE(scale.Receive(100).has_value());
  occupant.reset();
  Toggle();
  EXPECT_TRUE(scale.Receive().has_value());
  QTest::qWait(20);
  EXPECT_EQ(recorder.States, (States{0, 2}));
  EXPECT_EQ(failures.size(), 1u);
}

TEST(UdpOpenFailure, MissingPermissionNamesBothFixes) {
  const std::string text = UdpOpenFailureText(std::make_exception_ptr(EUDPSocketError(EACCES)));
  EXPECT_NE(text.find("port 1001"), std::string::npos);
  EXPECT_NE(text.find("setcap cap_net_bind_service=+ep "), std::string::npos);
  EXPECT_NE(text.find("net.ipv4.ip_unprivileged_port_start"), std::string::npos);
}
