// The Scales board sending the main window's table to a shop's scales (simulators on loopback).

#include "DatabaseTable.h"
#include "History.h"
#include "Global.h"
#include "MessageBox.h"
#include "NetTestSupport.h"
#include "ScaleSimProcess.h"
#include "ScalesBoard.h"
#include "TempDir.h"
#include "TransferWait.h"
#include "okno.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {
const char kProducts[] = "1;Ser \xBF\xF3\xB3ty;12.50\n2;Chleb;3.20\n3;Mleko;2.99\n";

std::string Wire(const std::string& file) {
  const TDatabaseTable table = TDatabaseTable::Parse(file);
  std::string wire = "SbP\r\n";
  for (int row = 0; row < table.RowCount(); ++row) wire += "Sr" + table.RowText(row) + "\r\n";
  return wire + "Se\r\n";
}

class ScalesBoard : public ::testing::Test {
 protected:
  ScalesBoard() {
    SetExecutableDirectory(dir.Path());
    ConnectionSettings = TConnectionSettings{};
    TransferSettings = TTransferSettings{};
    savedStateHome = std::getenv("XDG_STATE_HOME");
    setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    MessageBoxHook = [this](const QString& text, const QString& title, TMessageIcon) {
      boxes.push_back(title + ": " + text);
    };
  }
  ~ScalesBoard() override {
    form.reset();
    MessageBoxHook = nullptr;
    setenv("XDG_STATE_HOME", savedStateHome.c_str(), 1);
    SetExecutableDirectory("");
  }

  TScalesBoard& Board() {
    form->Scales1->trigger();
    return *form->ScalesBoard;
  }
  void SendToAll(TScalesBoard& board) {
    board.SendToAll();
    ASSERT_TRUE(RunEventsUntil([&] { return !board.Sending(); }, 20000));
    RunEventsUntil([] { return false; }, 50);
  }
  static QString Cell(const TScalesBoard& board, int row, int column) {
    return board.Table->item(row, column) ? board.Table->item(row, column)->text() : QString();
  }

  TTempDir dir;
  std::string savedStateHome;
  std::unique_ptr<TForm1> form;
  std::vector<QString> boxes;
};
}  // namespace

TEST_F(ScalesBoard, SendsTheOpenTableToEveryScaleAtOnceAndOnlyToThoseThatLackItTheNextTime) {
  TScaleSimProcess deli({"--tcp", "0", "--raw", dir.File("deli.raw")});
  TScaleSimProcess bakery({"--tcp", "0", "--raw", dir.File("bakery.raw")});
  const TRefusingPort refused;
  dir.Write("scales.targets", "# shop 12\ndeli=tcp:127.0.0.1:" + std::to_string(deli.TcpPort()) +
                                  "\nbakery=tcp:127.0.0.1:" + std::to_string(bakery.TcpPort()) +
                                  "\nnot a scale\nrefused=tcp:127.0.0.1:" + std::to_string(refused.Port()) + "\n");
  dir.Write("products.csv", kProducts);
  form = std::make_unique<TForm1>();
  form->Transfer.SetPaceMs(2);
  form->OpenDialog1 = [this] { return QString::fromStdString(dir.File("products.csv")); };
  form->Otwrz1Click();
  TScalesBoard& board = Board();
  ASSERT_EQ(board.Table->rowCount(), 4);
  EXPECT_EQ(Cell(board, 2, TScalesBoard::kName), "not a scale") << "a line it cannot read is shown as it stands";
  EXPECT_EQ(Cell(board, 0, TScalesBoard::kHolds), "never sent");

  SendToAll(board);
  EXPECT_EQ(dir.Read("deli.raw"), Wire(kProducts)) << "exactly the bytes Send database sends";
  EXPECT_EQ(dir.Read("bakery.raw"), Wire(kProducts));
  EXPECT_TRUE(Cell(board, 0, TScalesBoard::kRound).startsWith("sent in ")) << Cell(board, 0, TScalesBoard::kRound).toStdString();
  EXPECT_TRUE(Cell(board, 3, TScalesBoard::kRound).startsWith("failed: Cannot connect to 127.0.0.1:"))
      << Cell(board, 3, TScalesBoard::kRound).toStdString();
  EXPECT_EQ(board.Summary->text(), QString::fromUtf8("2 of 3 sent \u00B7 1 failed"));
  EXPECT_EQ(Cell(board, 0, TScalesBoard::kHolds), "this file");
  EXPECT_EQ(Cell(board, 3, TScalesBoard::kHolds), "never sent");

  SendToAll(board);
  EXPECT_EQ(dir.Read("deli.raw"), Wire(kProducts)) << "a scale that holds the file is not contacted";
  EXPECT_EQ(Cell(board, 1, TScalesBoard::kRound), "up to date");
  EXPECT_EQ(board.Summary->text(), QString::fromUtf8("0 of 3 sent \u00B7 2 up to date \u00B7 1 failed"));
  EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();

  board.EditEntry = [](const std::optional<TTarget>&) { return ScalesLineOf("deli", TLinkSettings{}); };
  board.Table->selectRow(0);
  board.EditButton->click();
  EXPECT_EQ(dir.Read("scales.targets"), "# shop 12\ndeli=serial:COM1@9600\nbakery=tcp:127.0.0.1:" +
                                            std::to_string(bakery.TcpPort()) + "\nnot a scale\nrefused=tcp:127.0.0.1:" +
                                            std::to_string(refused.Port()) + "\n")
      << "every other line is kept as it was";
}

TEST_F(ScalesBoard, WhileItSendsAnotherFileIsRefusedAndClosingTheWindowStopsItsTransfers) {
  TScaleSimProcess slow({"--tcp", "0", "--delay", "200"});
  dir.Write("scales.targets", "slow=tcp:127.0.0.1:" + std::to_string(slow.TcpPort()) + "\n");
  dir.Write("products.csv", kProducts);
  form = std::make_unique<TForm1>();
  form->OpenDialog1 = [this] { return QString::fromStdString(dir.File("products.csv")); };
  form->Otwrz1Click();
  TScalesBoard& board = Board();
  board.SendToAll();
  ASSERT_TRUE(RunEventsUntil([&] { return board.Table->cellWidget(0, TScalesBoard::kRound) != nullptr; }, 5000))
      << "the transfer runs, its bar in the cell";
  form->Otwrz1Click();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].startsWith("Open: The table is being sent to the scales")) << boxes[0].toStdString();
  form->FormClose();
  const std::vector<TTransferRecord> history = ReadHistory(HistoryPath(), 5);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(ResultText(history[0].Result), "stopped");
  EXPECT_EQ(history[0].Program, "scaledb");
}
