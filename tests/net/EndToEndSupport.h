#pragma once
// The main window sending a table to the scale simulator over the Ethernet link on loopback.

#include "DatabaseTable.h"
#include "Global.h"
#include "MessageBox.h"
#include "NetTestSupport.h"
#include "TempDir.h"
#include "TransferWait.h"
#include "okno.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

constexpr int kRows = 1000;
// The bulk rows go at a short pace; the scale's own 100 ms rhythm is measured in bench_transfer.
constexpr int kPaceMs = 2;
constexpr int kTransferPatienceMs = 120000;

// Rows of varied width with blanks, empty cells and bytes above 127.
inline std::string DatabaseFile(int rows) {
  std::string file;
  for (int i = 1; i <= rows; ++i) {
    file += std::to_string(i) + ";Product " + std::to_string(i);
    if (i % 3 == 0) file += ";\xB3\xF3\xBF;;kg";
    if (i % 7 == 0) file += "; spaced ;";
    file += "\n";
  }
  return file;
}

// The commands of a transfer of the file's table, each followed by `end`.
inline std::string ExpectedWire(const std::string& file, const std::string& end) {
  const TDatabaseTable table = TDatabaseTable::Parse(file);
  std::string wire = "SbP" + end;
  for (int row = 0; row < table.RowCount(); ++row) wire += "Sr" + table.RowText(row) + end;
  return wire + "Se" + end;
}

class EthernetTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExecutableDirectory(dir.Path());
    ConnectionSettings.Host = kLoopback;
    TransferSettings = {};
    MessageBoxHook = [this](const QString& text, const QString& title, TMessageIcon) {
      boxes.push_back({text.toStdString(), title.toStdString()});
    };
  }
  void TearDown() override {
    MessageBoxHook = nullptr;
    SetExecutableDirectory("");
  }

  // Set after the window has read its settings, so the link goes to the simulator on loopback.
  static void UseEthernet(uint8_t protocol, int port) {
    ConnectionSettings.Kind = 1;
    ConnectionSettings.Host = kLoopback;
    ConnectionSettings.Protocol = protocol;
    ConnectionSettings.Port = port;
  }

  void Connect(TForm1& form) {
    form.btnOpenPortClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.PortState == 2; }, 5000)) << "the link did not open";
    EXPECT_EQ(form.LabelConnection->text(), "127.0.0.1 connected");
  }

  void StartTransfer(TForm1& form, const std::string& file) {
    form.Database.SetTable(TDatabaseTable::Parse(file));
    form.Transfer.SetPaceMs(kPaceMs);
    form.bbWyslijBazeClick();
    EXPECT_FALSE(form.btnOpenPort->isEnabled());
  }

  void SendTable(TForm1& form, const std::string& file) {
    StartTransfer(form, file);
    ASSERT_TRUE(RunEventsUntil([&] { return !boxes.empty(); }, kTransferPatienceMs));
  }

  void ExpectSuccess(const TForm1& form) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "Database was sent to scale.");
    EXPECT_EQ(boxes[0].Title, "Success");
    EXPECT_EQ(form.bbWyslijBaze->text(), "Send database");
    EXPECT_TRUE(form.btnOpenPort->isEnabled());
  }

  struct TShownBox {
    std::string Text;
    std::string Title;
  };
  TTempDir dir;
  std::vector<TShownBox> boxes;
};
