// Scale sessions without a window: several at once in one process, each with its own link.

#include "DatabaseTable.h"
#include "PtyLink.h"
#include "ScaleSimProcess.h"
#include "SerialLink.h"
#include "SerialPort.h"
#include "Session.h"
#include "TempDir.h"
#include "UdpEndpoint.h"
#include "TransferWait.h"

#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {
constexpr int kPaceMs = 2;

std::shared_ptr<const TDatabaseTable> Table(int rows, const std::string& tag) {
  std::string file;
  for (int i = 1; i <= rows; ++i) file += std::to_string(i) + ";" + tag + " \xB3\xF3\xBF;" + std::to_string(i * 3) + "\n";
  return std::make_shared<const TDatabaseTable>(TDatabaseTable::Parse(file));
}

std::string Wire(const TDatabaseTable& table, const std::string& start) {
  std::string wire = start + "\r\n";
  for (int row = 0; row < table.RowCount(); ++row) wire += "Sr" + table.RowText(row) + "\r\n";
  return wire + "Se\r\n";
}

// A session with the outcomes of its transfer recorded.
struct TWatchedSession {
  TWatchedSession(const TLinkSettings& settings, std::shared_ptr<const TDatabaseTable> table, int kind)
      : Session(MakeLink(settings), std::move(table), kind) {
    QObject::connect(&Session.Engine(), &TTransfer::Finished, [this](bool failed) { Results.push_back(failed); });
    QObject::connect(&Session.Link(), &TLink::Failed, [this](const std::string& reason) { Failure = reason; });
    Session.Engine().SetPaceMs(kPaceMs);
  }
  TScaleSession Session;
  std::vector<bool> Results;
  std::string Failure;
};

class ScaleSessions : public ::testing::Test {
 protected:
  void SetUp() override { setenv("SCALEDB_PORTS_DIR", dir.File("ports").c_str(), 1); }
  void TearDown() override { unsetenv("SCALEDB_PORTS_DIR"); }
  TTempDir dir;
};
}  // namespace

TEST_F(ScaleSessions, TwoScalesAtOnceOverSerialAndTcpEachReceiveTheirTableByteForByte) {
  TScaleSimProcess serialScale({"--com", "1", "--ports-dir", dir.File("ports"), "--raw", dir.File("serial.raw")});
  TScaleSimProcess tcpScale({"--tcp", "0", "--raw", dir.File("tcp.raw")});
  TLinkSettings serial;
  serial.SerialPort = "COM1";
  TLinkSettings tcp;
  tcp.Kind = TLinkSettings::TKind::Tcp;
  tcp.Host = "127.0.0.1";
  tcp.Port = tcpScale.TcpPort();
  const auto products = Table(300, "Product");
  const auto users = Table(200, "User");
  TWatchedSession first(serial, products, 0);
  TWatchedSession second(tcp, users, 1);
  EXPECT_EQ(first.Session.Link().Name(), "serial:COM1@9600");
  EXPECT_EQ(second.Session.Link().Name(), "tcp:127.0.0.1:" + std::to_string(tcp.Port));

  first.Session.Link().Open();
  second.Session.Link().Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return second.Session.Link().State() == 2; }, 5000));
  ASSERT_EQ(first.Session.Link().State(), 2);
  first.Session.Start();
  second.Session.Start();
  EXPECT_TRUE(first.Session.Running());
  ASSERT_TRUE(RunEventsUntil([&] { return !first.Results.empty() && !second.Results.empty(); }, 60000));

  EXPECT_EQ(first.Results, std::vector<bool>{false});
  EXPECT_EQ(second.Results, std::vector<bool>{false});
  EXPECT_FALSE(first.Session.Running());
  serialScale.Stop();
  tcpScale.Stop();
  EXPECT_EQ(dir.Read("serial.raw"), Wire(*products, "SbP"));
  EXPECT_EQ(dir.Read("tcp.raw"), Wire(*users, "SbU"));
}

TEST_F(ScaleSessions, ASerialPortThatCannotOpenReportsWhyAndStaysClosed) {
  TLinkSettings missing;
  missing.SerialPort = "COM7";
  TWatchedSession session(missing, Table(1, "x"), 0);
  session.Session.Link().Open();
  EXPECT_EQ(session.Session.Link().State(), 0);
  EXPECT_NE(session.Failure.find("Unable to open com port"), std::string::npos) << session.Failure;
}

TEST_F(ScaleSessions, ASerialWriteThatFailsEndsTheTransferAtOnceWithItsReason) {
  std::filesystem::create_directories(dir.File("ports"));
  TPtyLink pty(dir.File("ports/"), "COM5");
  TLinkSettings serial;
  serial.SerialPort = "COM5";
  TWatchedSession watched(serial, Table(3, "x"), 0);
  std::string reason;
  QObject::connect(&watched.Session.Engine(), &TTransfer::Abandoned, [&reason](const std::string& why) { reason = why; });
  auto& link = static_cast<TSerialLink&>(watched.Session.Link());
  // Without an event thread the hang-up is met by the write, not noticed as a device gone away.
  link.Port().SetEvents(0);
  link.Open();
  ASSERT_EQ(link.State(), 2);
  pty.HangUp();
  watched.Session.Start();
  ASSERT_TRUE(RunEventsUntil([&] { return !reason.empty(); }, 5000));
  EXPECT_EQ(reason, "The command could not be sent to COM5: Input/output error (start command).");
  EXPECT_FALSE(watched.Session.Running());
  EXPECT_TRUE(watched.Results.empty()) << "never \"sent\"";
}

TEST_F(ScaleSessions, ASerialSettingsFileThatCannotBeReadFailsTheOpenWithItsName) {
  const std::string settings = dir.File("RuzOzodArir.ini");
  std::filesystem::create_directories(settings);
  TLinkSettings serial;
  serial.SerialPort = "COM5";
  serial.SerialSettingsFile = settings;
  TWatchedSession watched(serial, Table(1, "x"), 0);
  watched.Session.Link().Open();
  EXPECT_EQ(watched.Session.Link().State(), 0);
  EXPECT_EQ(watched.Failure, "The serial settings could not be read from " + settings + ": Failed to load settings.");
}

TEST(SharedUdpEndpoint, AReplyGoesToTheScaleThatSentItAndAnyOtherToNone) {
  const TUdpPeer4 a{0x0A000005, 1001}, b{0x0A000006, 1001}, c{0x0A000006, 2001};
  const struct {
    std::vector<TUdpPeer4> Scales;
    TUdpPeer4 Sender;
    size_t Scale;
  } cases[] = {
      {{a}, {0x7F000001, 9}, kNoScale},  // a spoofer: even a single scale answers only from its address
      {{a}, {0x0A000005, 9}, 0},         // the single scale, answering from another port
      {{a, b, c}, {0x0A000006, 2001}, 2},  // address and port
      {{a, b, c}, {0x0A000005, 40000}, 0},  // the only scale at that address, answering from another port
      {{a, b, c}, {0x0A000006, 40000}, kNoScale},  // two scales at that address: unclear
      {{a, b}, {0x0A000007, 1001}, kNoScale},       // nobody's
      {{}, {0x0A000005, 1001}, kNoScale},
  };
  for (const auto& c : cases) EXPECT_EQ(ScaleOfSender(c.Scales, c.Sender), c.Scale) << c.Sender.Address << ":" << c.Sender.Port;
}
