#include "ClientSocket.h"
#include "ErrorHandler.h"
#include "NetTestSupport.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {
// A client socket whose every event is written down, with errors silenced as the tool does.
class ClientSocketEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    client = std::make_unique<TClientSocket>();
    client->OnConnect = [this](TClientSocket&, TClientConnection&) { events.push_back("connect"); };
    client->OnDisconnect = [this](TClientSocket& sender, TClientConnection& socket) {
      events.push_back("disconnect");
      handleOpenAtDisconnect = socket.Handle() >= 0;
      activeAtDisconnect = sender.Active();
    };
    client->OnRead = [this](TClientSocket&, TClientConnection& socket) { received += socket.ReadPendingText(); };
    client->OnError = [this](TClientSocket&, TClientConnection&, TErrorEvent event, int& code) {
      errors.push_back(event);
      events.push_back("error");
      code = silenceErrors ? 0 : code;
    };
  }

  void Start(const std::string& host, int port) {
    client->SetClientType(ctNonBlocking);
    client->SetHost(host);
    client->SetPort(port);
    client->SetActive(true);
  }

  bool WaitForEvents(size_t count) {
    return QTest::qWaitFor([&] { return events.size() >= count; });
  }

  std::unique_ptr<TClientSocket> client;
  std::vector<std::string> events;
  std::vector<TErrorEvent> errors;
  std::string received;
  bool silenceErrors = true;
  bool handleOpenAtDisconnect = false;
  bool activeAtDisconnect = true;
};

using Events = std::vector<std::string>;
}  // namespace

TEST_F(ClientSocketEvents, ConnectsLaterAndIsInactiveUntilThen) {
  TTcpListener listener;
  Start(kLoopback, listener.Port());
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(client->Active());
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(events, Events{"connect"});
  EXPECT_TRUE(client->Active());
  EXPECT_TRUE(listener.Accept().has_value());
}


TEST_F(ClientSocketEvents, UnresolvableNameReportsLookupErrorThenDisconnects) {
  Start("no-such-host.invalid", 80);
  EXPECT_TRUE(events.empty());
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(events, (Events{"error", "disconnect"}));
  EXPECT_EQ(errors, std::vector<TErrorEvent>{eeLookup});
  EXPECT_FALSE(client->Active());
}

TEST_F(ClientSocketEvents, LookupErrorLeftStandingReachesTheUnexpectedErrorHandler) {
  silenceErrors = false;
  std::string report;
  const auto previous = UnexpectedErrorHook;
  UnexpectedErrorHook = [&](const QString& text) { report = text.toStdString(); };
  Start("no-such-host.invalid", 80);
  const bool reported = QTest::qWaitFor([&] { return !report.empty(); });
  UnexpectedErrorHook = previous;
  ASSERT_TRUE(reported);
  EXPECT_NE(report.find("Windows socket error: "), std::string::npos);
  EXPECT_NE(report.find("on API 'ASync Lookup'"), std::string::npos);
  EXPECT_EQ(events, (Events{"error", "disconnect"}));
}

TEST_F(ClientSocketEvents, EmptyHostFailsAtOnceInsideTheCall) {
  Start("", 80);
  EXPECT_EQ(events, (Events{"error", "disconnect"}));
  EXPECT_EQ(errors, std::vector<TErrorEvent>{eeLookup});
}

TEST_F(ClientSocketEvents, RefusedConnectionReportsConnectErrorAndNothingElse) {
  TRefusingPort refusing;
  Start(kLoopback, refusing.Port());
  ASSERT_TRUE(WaitForEvents(1));
  QTest::qWait(300);
  EXPECT_EQ(events, Events{"error"});
  EXPECT_EQ(errors, std::vector<TErrorEvent>{eeConnect});
  EXPECT_FALSE(client->Active());
}


TEST_F(ClientSocketEvents, InactiveDuringPendingLookupStillConnects) {
  TTcpListener listener;
  Start("localhost", listener.Port());
  client->SetActive(false);
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(events, Events{"connect"});
}


TEST_F(ClientSocketEvents, PeerCloseDisconnectsWithTheHandleStillOpen) {
  TTcpListener listener;
  Start(kLoopback, listener.Port());
  ASSERT_TRUE(WaitForEvents(1));
  TTcpPeer(*listener.Accept()).Close();
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(events, (Events{"connect", "disconnect"}));
  EXPECT_TRUE(handleOpenAtDisconnect);
  EXPECT_FALSE(activeAtDisconnect);
  EXPECT_FALSE(client->Active());
  EXPECT_LT(client->Socket().Handle(), 0);
}

TEST_F(ClientSocketEvents, TextSentBeforeThePeerClosesIsReadFirst) {
  TTcpListener listener;
  Start(kLoopback, listener.Port());
  ASSERT_TRUE(WaitForEvents(1));
  {
    TTcpPeer peer(*listener.Accept());
    peer.Send("Me\n");
  }
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(received, "Me\n");
}


TEST_F(ClientSocketEvents, SendStringWhenNotConnectedReturnsZero) {
  EXPECT_EQ(client->Socket().SendString("Se\r\n"), 0);
  TRefusingPort refusing;
  Start(kLoopback, refusing.Port());
  EXPECT_EQ(client->Socket().SendString("Se\r\n"), 0);
}


TEST_F(ClientSocketEvents, ResetByPeerStaysConnectedUntilASendFails) {
  TTcpListener listener;
  Start(kLoopback, listener.Port());
  ASSERT_TRUE(WaitForEvents(1));
  TTcpPeer(*listener.Accept()).Reset();
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(events, (Events{"connect", "error"}));
  EXPECT_EQ(errors.back(), eeDisconnect);
  EXPECT_TRUE(client->Active());
  client->Socket().SendString("Se\r\n");
  EXPECT_EQ(events, (Events{"connect", "error", "error", "disconnect"}));
  EXPECT_EQ(errors.back(), eeSend);
  EXPECT_FALSE(client->Active());
}

TEST_F(ClientSocketEvents, ReleaseFiresNoEvent) {
  TTcpListener listener;
  Start(kLoopback, listener.Port());
  ASSERT_TRUE(WaitForEvents(1));
  TTcpPeer peer(*listener.Accept());
  client.reset();
  EXPECT_EQ(events, Events{"connect"});
  EXPECT_TRUE(peer.WaitForClose());
}


TEST_F(ClientSocketEvents, SecondActivationReplacesAPendingAttempt) {
  TTcpListener listener;
  Start("no-such-host.invalid", 80);
  client->SetHost(kLoopback);
  client->SetPort(listener.Port());
  client->SetActive(true);
  ASSERT_TRUE(WaitForEvents(1));
  QTest::qWait(200);
  EXPECT_EQ(events, Events{"connect"});
}

TEST(ClientSocketProperties, ChangesWhileActiveAreRefusedAndEqualValuesIgnored) {
  TTcpListener listener;
  TClientSocket client;
  client.SetHost("LocalHost");
  client.SetHost("localhost");
  EXPECT_EQ(client.Host(), "LocalHost");
  client.SetPort(listener.Port());
  client.SetActive(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return client.Active(); }));
  EXPECT_NO_THROW(client.SetHost("LOCALHOST"));
  EXPECT_NO_THROW(client.SetPort(listener.Port()));
  try {
    client.SetHost(kLoopback);
    ADD_FAILURE() << "no error";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Can't change value while socket is active");
  }
  EXPECT_THROW(client.SetPort(listener.Port() + 1), ESocketError);
  EXPECT_THROW(client.SetClientType(ctBlocking), ESocketError);
}

// The child starts a lookup that never returns, releases the socket and leaves main() as the
// program does when its window closes; the parent sees whether the process ends.
TEST(ClientSocketLookup, HungLookupDoesNotKeepTheProcessAlive) {
  const char* const kChildMode = "SCALEDB_HUNG_LOOKUP_CHILD";
  if (std::getenv(kChildMode)) {
    auto client = std::make_unique<TClientSocket>();
    client->Resolver = [](const std::string&) {
      std::this_thread::sleep_for(std::chrono::hours(1));
      return SocketLayer::TLookupResult{};
    };
    client->SetHost("scale.example");
    client->SetPort(1001);
    client->SetActive(true);
    client.reset();
    return;
  }
  QProcess child;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(kChildMode, "1");
  child.setProcessEnvironment(environment);
  child.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=ClientSocketLookup.HungLookupDoesNotKeepTheProcessAlive"});
  ASSERT_TRUE(child.waitForStarted());
  // Generous for a sanitizer build's start and exit; a process that waits for the lookup never ends.
  const bool ended = child.waitForFinished(20000);
  if (!ended) child.kill();
  EXPECT_TRUE(ended) << "the process waits for the hung lookup";
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
}
