#include "EthConnection.h"
#include "NetTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {
using States = std::vector<intptr_t>;

class EthConnectionTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    ConnectionSettings.Host = kLoopback;
    connection = std::make_unique<CEthConnection>(&recorder);
    connection->OnReply = [this](const std::string& text, int length) {
      replies.push_back(text);
      lengthsMatch = lengthsMatch && length == static_cast<int>(text.size());
    };
  }

  void Toggle(const std::string& host, int port) { connection->ToggleConnection(0, host, port); }
  bool WaitForStates(size_t count) {
    return QTest::qWaitFor([&] { return recorder.States.size() >= count; });
  }
  std::string AllReplies() const {
    std::string all;
    for (const std::string& reply : replies) all += reply;
    return all;
  }

  // Connects to the listener and accepts the connection.
  std::unique_ptr<TTcpPeer> Connect(TTcpListener& listener) {
    Toggle(kLoopback, listener.Port());
    if (!QTest::qWaitFor([&] { return connection->State == 2; })) return nullptr;
    const auto handle = listener.Accept();
    return handle ? std::make_unique<TTcpPeer>(*handle) : nullptr;
  }

  TStateRecorder recorder;
  std::unique_ptr<CEthConnection> connection;
  std::vector<std::string> replies;
  bool lengthsMatch = true;
};
}  // namespace

TEST_F(EthConnectionTcp, ConnectingToAListenerPostsOneThenTwo) {
  TTcpListener listener;
  Toggle(kLoopback, listener.Port());
  EXPECT_EQ(connection->State, 1);
  ASSERT_TRUE(WaitForStates(2));
  EXPECT_EQ(recorder.States, (States{1, 2}));
  EXPECT_EQ(connection->State, 2);
}

TEST_F(EthConnectionTcp, UnresolvableNamePostsOneThenZero) {
  Toggle("no-such-host.invalid", 80);
  ASSERT_TRUE(WaitForStates(2));
  QTest::qWait(100);
  EXPECT_EQ(recorder.States, (States{1, 0}));
}

TEST_F(EthConnectionTcp, PortOutsideSixteenBitsPostsOneThenZeroAndNeverConnects) {
  TTcpListener listener;
  Toggle(kLoopback, listener.Port() + 65536);
  ASSERT_TRUE(WaitForStates(2));
  EXPECT_EQ(recorder.States, (States{1, 0}));
  EXPECT_FALSE(listener.Accept(100).has_value());
}

TEST_F(EthConnectionTcp, RefusedConnectionStaysConnectingUntilToggledThenStartsAfresh) {
  TRefusingPort refusing;
  Toggle(kLoopback, refusing.Port());
  QTest::qWait(300);
  EXPECT_EQ(recorder.States, States{1});
  Toggle(kLoopback, refusing.Port());
  QTest::qWait(50);
  EXPECT_EQ(recorder.States, (States{1, 0}));
  refusing.Listen();
  Toggle(kLoopback, refusing.Port());
  ASSERT_TRUE(WaitForStates(4));
  EXPECT_EQ(recorder.States, (States{1, 0, 1, 2}));
}

TEST_F(EthConnectionTcp, ClosingAnEstablishedConnectionPostsZeroTwice) {
  TTcpListener listener;
  const auto peer = Connect(listener);
  ASSERT_TRUE(peer);
  Toggle(kLoopback, listener.Port());
  EXPECT_EQ(connection->State, 0);
  ASSERT_TRUE(WaitForStates(4));
  EXPECT_EQ(recorder.States, (States{1, 2, 0, 0}));
  EXPECT_TRUE(peer->WaitForClose());
  Toggle(kLoopback, listener.Port());
  ASSERT_TRUE(WaitForStates(6));
  EXPECT_EQ(recorder.States, (States{1, 2, 0, 0, 1, 2}));
}

TEST_F(EthConnectionTcp, PeerClosingPostsZero) {
  TTcpListener listener;
  const auto peer = Connect(listener);
  ASSERT_TRUE(peer);
  peer->Close();
  ASSERT_TRUE(WaitForStates(3));
  EXPECT_EQ(recorder.States, (States{1, 2, 0}));
  EXPECT_EQ(connection->State, 0);
}

TEST_F(EthConnectionTcp, TextSplitAndJoinedByThePeerArrivesWhole) {
  TTcpListener listener;
  const auto peer = Connect(listener);
  ASSERT_TRUE(peer);
  const std::string pieces[] = {"M", "b", "P\r\nM", "r\r\nMr", "\r\n"};
  for (const std::string& piece : pieces) {
    peer->Send(piece);
    QTest::qWait(20);
  }
  const std::string whole = "MbP\r\nMr\r\nMr\r\n";
  ASSERT_TRUE(QTest::qWaitFor([&] { return AllReplies().size() >= whole.size(); }));
  EXPECT_EQ(AllReplies(), whole);
  EXPECT_TRUE(lengthsMatch);
  for (const std::string& reply : replies) EXPECT_FALSE(reply.empty());
}

TEST_F(EthConnectionTcp, SendTcpSendsUnchangedOnlyWhileConnected) {
  TTcpListener listener;
  connection->SendTCP("lost\r\n");
  const auto peer = Connect(listener);
  ASSERT_TRUE(peer);
  connection->SendTCP("SbP\r\n");
  EXPECT_EQ(peer->Receive(5), "SbP\r\n");
}

TEST_F(EthConnectionTcp, ToggleDuringLookupResetsTheStateButTheAttemptStillConnects) {
  TTcpListener listener;
  Toggle("localhost", listener.Port());
  Toggle("localhost", listener.Port());
  ASSERT_TRUE(WaitForStates(3));
  EXPECT_EQ(recorder.States, (States{1, 0, 2}));
  EXPECT_EQ(connection->State, 2);
}

TEST_F(EthConnectionTcp, OtherProtocolValuesChangeNothingAndPostTheState) {
  TTcpListener listener;
  connection->ToggleConnection(2, kLoopback, listener.Port());
  ASSERT_TRUE(WaitForStates(1));
  const auto peer = Connect(listener);
  ASSERT_TRUE(peer);
  connection->ToggleConnection(255, kLoopback, listener.Port());
  ASSERT_TRUE(WaitForStates(4));
  EXPECT_EQ(recorder.States, (States{0, 1, 2, 2}));
}

TEST_F(EthConnectionTcp, DestructionClosesAnEstablishedConnectionPostingZeroOnce) {
  TTcpListener listener;
  const auto peer = Connect(listener);
  ASSERT_TRUE(peer);
  connection.reset();
  ASSERT_TRUE(WaitForStates(3));
  QTest::qWait(50);
  EXPECT_EQ(recorder.States, (States{1, 2, 0}));
  EXPECT_TRUE(peer->WaitForClose());
}

TEST_F(EthConnectionTcp, DestructionDuringLookupGetsNoLateEvent) {
  TTcpListener listener;
  Toggle("localhost", listener.Port());
  connection.reset();
  QTest::qWait(300);
  EXPECT_EQ(recorder.States, States{1});
}
