#include "EndToEndSupport.h"
#include "CodePageSample.h"
#include "ScaleSimProcess.h"

TEST_F(EthernetTransfer, ThousandRowsOverTcpArriveByteForByte) {
  TScaleSimProcess sim({"--tcp", "0", "--raw", dir.File("raw")});
  TForm1 form;
  UseEthernet(0, sim.TcpPort());
  const std::string file = DatabaseFile(kRows);
  ASSERT_EQ(TDatabaseTable::Parse(file).RowCount(), kRows);
  Connect(form);
  SendTable(form, file);
  ExpectSuccess(form);
  sim.Stop();
  EXPECT_EQ(dir.Read("raw"), ExpectedWire(file, "\r\n"));
}

TEST_F(EthernetTransfer, SplitTcpAnswersStillCompleteTheTransfer) {
  TScaleSimProcess sim({"--tcp", "0", "--split", "--raw", dir.File("raw")});
  TForm1 form;
  UseEthernet(0, sim.TcpPort());
  Connect(form);
  SendTable(form, "a;b\nc\n");
  ExpectSuccess(form);
  sim.Stop();
  EXPECT_EQ(dir.Read("raw"), "SbP\r\nSra;b\r\nSrc;\r\nSe\r\n");
}

TEST_F(EthernetTransfer, ScaleClosingTcpMidTransferShowsDisconnectedAndStopReturnsTheButton) {
  TScaleSimProcess sim({"--tcp", "0", "--close-after", "10"});
  TForm1 form;
  UseEthernet(0, sim.TcpPort());
  Connect(form);
  StartTransfer(form, DatabaseFile(50));
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.PortState == 0; }, 30000));
  EXPECT_EQ(form.LabelConnection->text(), "127.0.0.1 disconnected");
  EXPECT_EQ(form.bbWyslijBaze->text(), "Stop");
  form.bbWyslijBazeClick();
  EXPECT_EQ(form.bbWyslijBaze->text(), "Send database");
  EXPECT_TRUE(form.btnOpenPort->isEnabled());
  QTest::qWait(300);
  EXPECT_TRUE(boxes.empty());
  Connect(form);
  SendTable(form, DatabaseFile(5));
  ExpectSuccess(form);
}

TEST_F(EthernetTransfer, AUtf8FileGoesOutInTheScalesCodePage) {
  TScaleSimProcess sim({"--tcp", "0", "--raw", dir.File("raw")});
  TForm1 form;
  UseEthernet(0, sim.TcpPort());
  OpenTurtleFileForCp1250(form, dir);
  Connect(form);
  form.Transfer.SetPaceMs(kPaceMs);
  form.bbWyslijBazeClick();
  ASSERT_TRUE(RunEventsUntil([&] { return !boxes.empty(); }, kTransferPatienceMs));
  ExpectSuccess(form);
  sim.Stop();
  EXPECT_EQ(dir.Read("raw"), kTurtleCp1250Wire);
}
