// The main window sends a table over a pty to the scale simulator.

#include "DatabaseTable.h"
#include "Global.h"
#include "MessageBox.h"
#include "CodePageSample.h"
#include "ScaleSimProcess.h"
#include "TempDir.h"
#include "TransferWait.h"
#include "okno.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <string>
#include <vector>

namespace {
constexpr int kRows = 1000;
// The bulk rows go at a short pace; the scale's own 100 ms rhythm is measured in bench_transfer.
constexpr int kPaceMs = 2;
constexpr int kTransferPatienceMs = 120000;

struct TShownBox {
  QString Text;
  QString Title;
  TMessageIcon Icon;
};

// Rows of varied width with blanks, empty cells and bytes above 127, which go out unconverted.
std::string DatabaseFile(int rows) {
  std::string file;
  for (int i = 1; i <= rows; ++i) {
    file += std::to_string(i) + ";Product " + std::to_string(i);
    if (i % 3 == 0) file += ";\xB3\xF3\xBF;;kg";
    if (i % 7 == 0) file += "; spaced ;";
    file += i % 2 ? "\r\n" : "\n";
  }
  return file;
}

// What reaches the scale when the simulator garbles every k-th record (0: none).
std::string ExpectedWire(const TDatabaseTable& table, int garbleEvery) {
  std::string wire = "SbP\r\n";
  int records = 0;
  for (int row = 0; row < table.RowCount(); ++row) {
    do {
      wire += "Sr" + table.RowText(row) + "\r\n";
      ++records;
    } while (garbleEvery > 0 && records % garbleEvery == 0);
  }
  return wire + "Se\r\n";
}

std::string LogOf(const std::string& wire) {
  std::string log;
  for (size_t start = 0, end; (end = wire.find("\r\n", start)) != std::string::npos; start = end + 2)
    log += wire.substr(start, end - start) + "\n";
  return log;
}

class TransferOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExecutableDirectory(dir.Path());
    setenv("SCALEDB_PORTS_DIR", dir.File("ports").c_str(), 1);
    ConnectionSettings.Kind = 0;
    ConnectionSettings.Host = "127.0.0.1";
    TransferSettings = {};
    MessageBoxHook = [this](const QString& text, const QString& title, TMessageIcon icon) {
      boxes.push_back({text, title, icon});
    };
  }
  void TearDown() override {
    MessageBoxHook = nullptr;
    unsetenv("SCALEDB_PORTS_DIR");
    SetExecutableDirectory("");
  }

  std::vector<std::string> SimulatorArguments(const std::vector<std::string>& faults) const {
    std::vector<std::string> arguments{"--com",  "1", "--ports-dir", dir.File("ports"), "--raw", dir.File("raw"),
                                       "--log", dir.File("log")};
    arguments.insert(arguments.end(), faults.begin(), faults.end());
    return arguments;
  }

  // Connects COM1, loads the table, presses "Send database" and waits for the result box.
  void SendTable(TForm1& form, TDatabaseTable table) {
    form.ComPort1.SetPort("COM1");
    form.btnOpenPortClick();
    ASSERT_EQ(form.PortState, 2) << "COM1 did not open";
    ASSERT_TRUE(boxes.empty());
    form.Database.SetTable(std::move(table));
    form.Transfer.SetPaceMs(kPaceMs);
    form.bbWyslijBazeClick();
    EXPECT_FALSE(form.btnOpenPort->isEnabled());
    ASSERT_TRUE(RunEventsUntil([&] { return !boxes.empty(); }, kTransferPatienceMs));
  }

  void ExpectSuccess(const TForm1& form) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "Database was sent to scale.");
    EXPECT_EQ(boxes[0].Title, "Success");
    EXPECT_EQ(boxes[0].Icon, TMessageIcon::Information);
    EXPECT_EQ(form.SendButtonTag(), 0);
    EXPECT_EQ(form.bbWyslijBaze->text(), "Send database");
    EXPECT_TRUE(form.btnOpenPort->isEnabled());
  }

  TTempDir dir;
  std::vector<TShownBox> boxes;
};
}  // namespace

TEST_F(TransferOverPty, ThousandRowsArriveByteForByteInOrderWithCrLf) {
  TScaleSimProcess sim(SimulatorArguments({}));
  TForm1 form;
  const TDatabaseTable table = TDatabaseTable::Parse(DatabaseFile(kRows));
  ASSERT_EQ(table.RowCount(), kRows);
  SendTable(form, TDatabaseTable::Parse(DatabaseFile(kRows)));
  ExpectSuccess(form);
  sim.Stop();
  EXPECT_EQ(dir.Read("raw"), ExpectedWire(table, 0));
}

TEST_F(TransferOverPty, EveryGarbledRecordIsSentAgainAndTheTableArrivesComplete) {
  TScaleSimProcess sim(SimulatorArguments({"--garble-every", "5"}));
  TForm1 form;
  const TDatabaseTable table = TDatabaseTable::Parse(DatabaseFile(kRows));
  SendTable(form, TDatabaseTable::Parse(DatabaseFile(kRows)));
  ExpectSuccess(form);
  sim.Stop();
  const std::string wire = ExpectedWire(table, 5);
  EXPECT_EQ(dir.Read("raw"), wire);
  EXPECT_EQ(dir.Read("log"), LogOf(wire));
}

TEST_F(TransferOverPty, AnswersSplitIntoSingleBytesStillCompleteTheTransfer) {
  TScaleSimProcess sim(SimulatorArguments({"--split", "--split-gap", "3"}));
  TForm1 form;
  SendTable(form, TDatabaseTable::Parse("a;b\nc\n"));
  ExpectSuccess(form);
  sim.Stop();
  EXPECT_EQ(dir.Read("raw"), "SbP\r\nSra;b\r\nSrc;\r\nSe\r\n");
}

TEST_F(TransferOverPty, AUtf8FileGoesOutInTheScalesCodePage) {
  TScaleSimProcess sim(SimulatorArguments({}));
  TForm1 form;
  OpenTurtleFileForCp1250(form, dir);
  form.ComPort1.SetPort("COM1");
  form.btnOpenPortClick();
  ASSERT_EQ(form.PortState, 2) << "COM1 did not open";
  form.Transfer.SetPaceMs(kPaceMs);
  form.bbWyslijBazeClick();
  ASSERT_TRUE(RunEventsUntil([&] { return !boxes.empty(); }, kTransferPatienceMs));
  ExpectSuccess(form);
  sim.Stop();
  EXPECT_EQ(dir.Read("raw"), kTurtleCp1250Wire);
}

TEST_F(TransferOverPty, APtyThatHangsUpMidTransferFailsAtOnceAndThePortReadsClosed) {
  TScaleSimProcess sim(SimulatorArguments({"--close-after", "3"}));
  TForm1 form;
  // Noticed only at the answer timeout, the failure would name the timeout instead.
  form.Transfer.SetAnswerTimeoutMs(1000);
  SendTable(form, TDatabaseTable::Parse("1\n2\n3\n4\n5\n"));
  sim.Stop();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text.toStdString(), "The serial device went away (record 4 of 5).\nDatabase could not be sent to scale.");
  EXPECT_EQ(boxes[0].Title, "Failure");
  EXPECT_FALSE(form.ComPort1.Connected());
  EXPECT_EQ(form.PortState, 0);
  EXPECT_EQ(form.LabelConnection->text().toStdString(), "COM1 9600bps disconnected");
  EXPECT_EQ(form.btnOpenPort->text(), "Connect");
  EXPECT_EQ(form.bbWyslijBaze->text(), "Send database");
  EXPECT_EQ(form.PortDiagnosis->text().toStdString(), "The serial device went away.");
}
