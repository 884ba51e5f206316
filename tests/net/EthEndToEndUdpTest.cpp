#include "EndToEndSupport.h"
#include "History.h"
#include "NetTestSupport.h"
#include "ScaleSimProcess.h"

namespace {
[[maybe_unused]] const bool kPrivateNetwork = EnterPrivateNetwork();
}  // namespace

TEST_F(EthernetTransfer, ThousandRowsOverUdpArriveByteForByte) {
  TScaleSimProcess sim({"--udp", "0", "--raw", dir.File("raw")});
  TForm1 form;
  UseEthernet(1, sim.UdpPort());
  const std::string file = DatabaseFile(kRows);
  Connect(form);
  SendTable(form, file);
  ExpectSuccess(form);
  sim.Stop();
  const std::string opening(1, '\0');
  EXPECT_EQ(dir.Read("raw"), opening + ExpectedWire(file, opening));
}

// A host the connection dialog took as typed, a name where an address belongs: nothing goes out,
// and the operator is told why instead of waiting for the scale's silence.
TEST_F(EthernetTransfer, AUdpHostThatIsNoAddressIsSaidAtConnectAndFailsTheTransferAtOnce) {
  TForm1 form;
  UseEthernet(1, 5000);
  ConnectionSettings.Host = "scale.invalid";
  form.btnOpenPortClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form.PortDiagnosis->text().isEmpty(); }, 5000));
  EXPECT_EQ(form.PortDiagnosis->text().toStdString(),
            "The opening datagram could not be sent to scale.invalid:5000: 'scale' is not a valid integer value.");
  EXPECT_EQ(form.LabelConnection->text(), "scale.invalid connected");
  SendTable(form, DatabaseFile(3));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Title, "Failure");
  EXPECT_EQ(boxes[0].Text,
            "The command could not be sent to scale.invalid:5000: 'scale' is not a valid integer value (start "
            "command).\nDatabase could not be sent to scale.");
  EXPECT_EQ(form.bbWyslijBaze->text(), "Send database");
}

// A scale that answers from another address than the one the window sends to is no scale: its
// acknowledgements are dropped and counted, and the transfer fails at the answer timeout.
TEST_F(EthernetTransfer, AnswersFromAnotherAddressAreDroppedAndCountedNeverSent) {
  TScaleSimProcess spoofer({"--udp", "0", "--answer-from", "127.0.0.77"});
  TForm1 form;
  UseEthernet(1, spoofer.UdpPort());
  Connect(form);
  form.Transfer.SetAnswerTimeoutMs(300);
  SendTable(form, DatabaseFile(3));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "The scale did not answer within 0.3 s (start command).\nDatabase could not be sent to scale.");
  const std::vector<TTransferRecord> history = ReadHistory(HistoryPath(), 1);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_GT(history[0].IgnoredDatagrams, 0);
}
