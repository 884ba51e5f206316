#include "NetTestSupport.h"
#include "UDPServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {
// An endpoint on a port the system picks, recording what OnUDPRead is given.
class UdpEndpoint : public ::testing::Test {
 protected:
  void Open(bool threaded = true) {
    server.Bindings.Clear();
    server.Bindings.Add();
    server.ThreadedEvent = threaded;
    server.OnUDPRead = [this](TUDPServer&, std::string_view data, TSocketHandle& binding) {
      const std::lock_guard lock(mutex);
      datagrams.emplace_back(data);
      peers.push_back(binding.PeerIP + ":" + std::to_string(binding.PeerPort));
      onGuiThread.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
    };
    server.SetActive(true);
    ASSERT_TRUE(server.Active());
    port = server.Bindings[0].Port;
  }

  size_t Received() {
    const std::lock_guard lock(mutex);
    return datagrams.size();
  }

  bool WaitForDatagrams(size_t count) {
    return QTest::qWaitFor([&] { return Received() >= count; });
  }

  TUDPServer server;
  int port = 0;
  std::mutex mutex;
  std::vector<std::string> datagrams;
  std::vector<std::string> peers;
  std::vector<bool> onGuiThread;
};
}  // namespace

TEST_F(UdpEndpoint, HandsEachDatagramOnWithItsSenderOnTheListenerThread) {
  Open();
  TUdpPeer peer;
  peer.SendTo(port, "Mr\r\n");
  ASSERT_TRUE(WaitForDatagrams(1));
  EXPECT_EQ(datagrams[0], "Mr\r\n");
  EXPECT_EQ(peers[0], "127.0.0.1:" + std::to_string(peer.Port()));
  EXPECT_FALSE(onGuiThread[0]);
}

TEST_F(UdpEndpoint, EmptyDatagramArrivesWithSizeZero) {
  Open();
  TUdpPeer peer;
  peer.SendTo(port, "");
  ASSERT_TRUE(WaitForDatagrams(1));
  EXPECT_EQ(datagrams[0], "");
}

TEST_F(UdpEndpoint, TwoDatagramsAreTwoCallsInOrder) {
  Open();
  TUdpPeer peer;
  peer.SendTo(port, "Mb");
  peer.SendTo(port, "P\n");
  ASSERT_TRUE(WaitForDatagrams(2));
  EXPECT_EQ(datagrams, (std::vector<std::string>{"Mb", "P\n"}));
}

TEST_F(UdpEndpoint, DatagramOverTheReceiveSizeIsDroppedAndTheNextReceived) {
  Open();
  TUdpPeer peer;
  peer.SendTo(port, std::string(8193, 'x'));
  peer.SendTo(port, std::string(8192, 'y'));
  peer.SendTo(port, "Me\n");
  ASSERT_TRUE(WaitForDatagrams(2));
  EXPECT_EQ(datagrams, (std::vector<std::string>{std::string(8192, 'y'), "Me\n"}));
}

TEST_F(UdpEndpoint, WithoutThreadedEventTheDatagramsRunOnTheGuiThreadInOrder) {
  Open(false);
  TUdpPeer peer;
  peer.SendTo(port, "1");
  peer.SendTo(port, "2");
  ASSERT_TRUE(WaitForDatagrams(2));
  EXPECT_EQ(datagrams, (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(onGuiThread, (std::vector<bool>{true, true}));
}

TEST_F(UdpEndpoint, QueuedDatagramsOfAClosedEndpointAreNotHandedOn) {
  Open(false);
  TUdpPeer peer;
  peer.SendTo(port, "late");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  server.SetActive(false);
  QTest::qWait(100);
  EXPECT_EQ(Received(), 0u);
}


TEST_F(UdpEndpoint, AFailingHandlerCostsOnlyItsDatagramAndIsReported) {
  std::vector<std::string> failures;
  server.Bindings.Clear();
  server.Bindings.Add();
  server.ThreadedEvent = true;
  server.OnUDPRead = [this](TUDPServer&, std::string_view data, TSocketHandle&) {
    if (data == "bad") throw std::runtime_error("no room for the answer");
    const std::lock_guard lock(mutex);
    datagrams.emplace_back(data);
  };
  server.OnReadFailure = [&](TUDPServer&, const std::exception& error) {
    const std::lock_guard lock(mutex);
    failures.emplace_back(error.what());
  };
  server.SetActive(true);
  TUdpPeer peer;
  peer.SendTo(server.Bindings[0].Port, "bad");
  peer.SendTo(server.Bindings[0].Port, "Mr");
  ASSERT_TRUE(WaitForDatagrams(1));
  server.SetActive(false);
  EXPECT_EQ(datagrams, std::vector<std::string>{"Mr"});
  EXPECT_EQ(failures, std::vector<std::string>{"no room for the answer"});
}

TEST_F(UdpEndpoint, AddressPartsAreReadAsDecimalsKeepingTheLowByte) {
  Open();
  TUdpPeer peer;
  server.Binding()->SendDatagram("127.0.0.257", peer.Port(), "a", 1);
  server.Binding()->SendDatagram("127.000.000.001", peer.Port(), "b", 1);
  EXPECT_EQ(peer.Receive()->Bytes, "a");
  EXPECT_EQ(peer.Receive()->Bytes, "b");
}

TEST_F(UdpEndpoint, NamesAndShortAddressesAreRefusedAndNothingIsSent) {
  Open();
  TUdpPeer peer;
  EXPECT_THROW(server.Binding()->SendDatagram("localhost", peer.Port(), "a", 1), EConvertError);
  EXPECT_THROW(server.Binding()->SendDatagram("127.0.1", peer.Port(), "a", 1), EConvertError);
  EXPECT_THROW(server.Binding()->SendDatagram("", peer.Port(), "a", 1), EConvertError);
  EXPECT_FALSE(peer.Receive(100).has_value());
}

TEST_F(UdpEndpoint, PortOutsideSixteenBitsSendsNothing) {
  Open();
  TUdpPeer peer;
  EXPECT_THROW(server.Binding()->SendDatagram("127.0.0.1", peer.Port() + 65536, "a", 1), EUDPSocketError);
  EXPECT_FALSE(peer.Receive(100).has_value());
}

TEST_F(UdpEndpoint, DeactivationWakesTheListenerAndNoReadStartsAfterwards) {
  std::atomic<bool> inside{false};
  std::atomic<int> calls{0};
  server.Bindings.Add();
  server.ThreadedEvent = true;
  server.OnUDPRead = [&](TUDPServer&, std::string_view, TSocketHandle&) {
    inside = true;
    ++calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    inside = false;
  };
  server.SetActive(true);
  TUdpPeer peer;
  const int target = server.Bindings[0].Port;
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    while (sending) {
      peer.SendTo(target, "Mr\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 5; }));
  // Let the listener go back to a quiet wait, which only the wake-up can cut short.
  sending = false;
  sender.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  QElapsedTimer clock;
  clock.start();
  server.SetActive(false);
  EXPECT_LT(clock.elapsed(), TUDPListenerThread::kWaitTimeMs - 100);
  EXPECT_FALSE(inside);
  EXPECT_FALSE(server.Active());
  const int after = calls;
  peer.SendTo(target, "Mr\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(calls, after);
}


TEST(UdpEndpointBinding, TakenPortRaisesAndLeavesTheEndpointInactiveUntilFreed) {
  auto occupant = std::make_unique<TUdpPeer>();
  TUDPServer server;
  server.DefaultPort = 0;
  server.Bindings.Add().Port = occupant->Port();
  try {
    server.SetActive(true);
    ADD_FAILURE() << "no error";
  } catch (const ECouldNotBindSocket& error) {
    EXPECT_STREQ(error.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(server.Active());
  occupant.reset();
  server.SetActive(true);
  EXPECT_TRUE(server.Active());
}

TEST(UdpEndpointBinding, EmptyBindingsGetOneOnTheDefaultPort) {
  TUDPServer server;
  server.DefaultPort = 0;
  server.SetActive(true);
  ASSERT_EQ(server.Bindings.Count(), 1u);
  EXPECT_EQ(server.Binding(), &server.Bindings[0]);
  EXPECT_GT(server.Bindings[0].Port, 0);
}

TEST(DottedAddress, EachPartKeepsItsLowByte) {
  EXPECT_EQ(DottedAddressToIPv4("10.0.0.300"), 0x0A00002Cu);
  EXPECT_EQ(DottedAddressToIPv4("192.168.001.010"), 0xC0A8010Au);
  EXPECT_EQ(DottedAddressToIPv4("1.2.3.4.5"), 0x01020304u);
  EXPECT_EQ(DottedAddressToIPv4("-1.0.0.0"), 0xFF000000u);
}

TEST(DottedAddress, NonNumbersAreConversionErrors) {
  for (const char* text : {"scale.local", "1.2.3", "1..3.4", "1.2.3.4x", " 1.2.3.4", "1.2.3.99999999999"})
    EXPECT_THROW(DottedAddressToIPv4(text), EConvertError) << text;
}
