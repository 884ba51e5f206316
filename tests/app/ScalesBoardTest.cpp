// The Scales board sending the main window's table to a shop's scales (simulators on loopback).

#include "DatabaseTable.h"
#include "History.h"
#include "Global.h"
#include "MessageBox.h"
#include "NetTestSupport.h"
#include "RadioGroup.h"
#include "ScaleSimProcess.h"
#include "ScalesBoard.h"
#include "TempDir.h"
#include "TransferWait.h"
#include "okno.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

namespace {
const std::string kByteOrderMark = "\xEF\xBB\xBF";
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
  void OpenProducts() {
    dir.Write("products.csv", kProducts);
    form->OpenDialog1 = [this] { return QString::fromStdString(dir.File("products.csv")); };
    form->Otwrz1Click();
  }
  static std::string Tcp(int port) { return "tcp:127.0.0.1:" + std::to_string(port); }

  TTempDir dir;
  std::string savedStateHome;
  std::unique_ptr<TForm1> form;
  std::vector<QString> boxes;
};
}  // namespace

TEST_F(ScalesBoard, SendsTheOpenTableToEveryScaleAtOnceAndOnlyToThoseThatLackItTheNextTime) {
  TScaleSimProcess deli({"--tcp", "0", "--raw", dir.File("deli.raw")});
  TScaleSimProcess bakery({"--tcp", "0", "--raw", dir.File("bakery.raw")});
  TScaleSimProcess counter({"--pty", "--raw", dir.File("counter.raw")});
  const TRefusingPort refused;
  const std::string rest = "\nbakery=" + Tcp(bakery.TcpPort()) + "\ncounter=serial:" + counter.PtyPath() +
                           "\nnot a scale\nrefused=" + Tcp(refused.Port()) + "\n";
  // An editor's byte order mark: no part of the first line, which stays a comment, and kept.
  dir.Write("scales.targets", kByteOrderMark + "# shop 12\ndeli=" + Tcp(deli.TcpPort()) + rest);
  form = std::make_unique<TForm1>();
  form->Transfer.SetPaceMs(2);
  TScalesBoard& board = Board();
  ASSERT_EQ(board.Table->rowCount(), 5);
  EXPECT_EQ(Cell(board, 0, TScalesBoard::kName), "deli");
  EXPECT_EQ(Cell(board, 3, TScalesBoard::kName), "not a scale") << "a line it cannot read is shown as it stands";
  EXPECT_EQ(Cell(board, 0, TScalesBoard::kHolds), "") << "no table is open: nothing to hold or lack";
  OpenProducts();
  EXPECT_EQ(Cell(board, 0, TScalesBoard::kHolds), "never sent") << "File -> Open shows what the scales hold of it";

  SendToAll(board);
  for (const char* raw : {"deli.raw", "bakery.raw", "counter.raw"})
    EXPECT_EQ(dir.Read(raw), Wire(kProducts)) << raw << ": exactly the bytes Send database sends";
  for (int row : {0, 1, 2})
    EXPECT_TRUE(Cell(board, row, TScalesBoard::kRound).startsWith("sent in ")) << Cell(board, row, TScalesBoard::kRound).toStdString();
  EXPECT_TRUE(Cell(board, 4, TScalesBoard::kRound).startsWith("failed: Cannot connect to 127.0.0.1:"))
      << Cell(board, 4, TScalesBoard::kRound).toStdString();
  EXPECT_EQ(board.Summary->text(), QString::fromUtf8("3 of 4 sent \u00B7 1 failed"));
  EXPECT_EQ(Cell(board, 0, TScalesBoard::kHolds), "this file");
  EXPECT_EQ(Cell(board, 4, TScalesBoard::kHolds), "never sent");
  form->rgBaza->SetItemIndex(1);
  EXPECT_EQ(Cell(board, 0, TScalesBoard::kHolds), "other content") << "the user database is another content";
  form->rgBaza->SetItemIndex(0);

  SendToAll(board);
  EXPECT_EQ(dir.Read("deli.raw"), Wire(kProducts)) << "a scale that holds the file is not contacted";
  EXPECT_EQ(Cell(board, 2, TScalesBoard::kRound), "up to date");
  EXPECT_EQ(board.Summary->text(), QString::fromUtf8("0 of 4 sent \u00B7 3 up to date \u00B7 1 failed"));
  EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();

  board.EditEntry = [](const std::optional<TScalesLine>&) { return ScalesLineOf("deli", TLinkSettings{}); };
  board.Table->selectRow(0);
  board.EditButton->click();
  EXPECT_EQ(dir.Read("scales.targets"), kByteOrderMark + "# shop 12\ndeli=serial:COM1@9600" + rest)
      << "every other line is kept as it was";
}

TEST_F(ScalesBoard, WhileItSendsAnotherFileIsRefusedAndClosingTheWindowStopsItsTransfers) {
  TScaleSimProcess slow({"--tcp", "0", "--delay", "300"});
  dir.Write("scales.targets", "slow=" + Tcp(slow.TcpPort()) + "\n");
  form = std::make_unique<TForm1>();
  OpenProducts();
  TScalesBoard& board = Board();
  board.SendToAll();
  const QRegularExpression recordLeft(QString::fromUtf8("^record [1-3] of 3 \u00B7 about \\d+:\\d\\d left$"));
  ASSERT_TRUE(RunEventsUntil(
      [&] {
        const auto* bar = qobject_cast<QProgressBar*>(board.Table->cellWidget(0, TScalesBoard::kRound));
        return bar && recordLeft.match(bar->format()).hasMatch();
      },
      5000))
      << "the transfer runs, its bar in the cell telling the record and the time left";
  form->Otwrz1Click();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].startsWith("Open: The table is being sent to the scales")) << boxes[0].toStdString();
  form->FormClose();
  const std::vector<TTransferRecord> history = ReadHistory(HistoryPath(), 5);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(ResultText(history[0].Result), "stopped");
  EXPECT_EQ(history[0].Program, "scaledb");
}

// The lock of "Send database": the board finds that scale busy and goes on with the others; the
// window's transfer, once recorded, shows in the board's Holds.
TEST_F(ScalesBoard, AScaleTheMainWindowSendsToIsBusyOnTheBoard) {
  TScaleSimProcess windowScale({"--tcp", "0", "--delay", "150"});
  TScaleSimProcess other({"--tcp", "0"});
  dir.Write("scales.targets", "counter=" + Tcp(windowScale.TcpPort()) + "\nother=" + Tcp(other.TcpPort()) + "\n");
  form = std::make_unique<TForm1>();
  OpenProducts();
  TScalesBoard& board = Board();
  ConnectionSettings = TConnectionSettings{1, "127.0.0.1", 0, windowScale.TcpPort()};
  form->btnOpenPortClick();
  ASSERT_TRUE(RunEventsUntil([&] { return form->PortState == lsConnected; }, 5000));
  form->bbWyslijBazeClick();

  SendToAll(board);
  const QString busy = Cell(board, 0, TScalesBoard::kRound);
  EXPECT_TRUE(QRegularExpression("^busy: another sender \\(pid \\d+, scaledb\\) is sending to this scale$").match(busy).hasMatch())
      << busy.toStdString();
  EXPECT_TRUE(Cell(board, 1, TScalesBoard::kRound).startsWith("sent in "));
  EXPECT_EQ(board.Summary->text(), QString::fromUtf8("1 of 2 sent \u00B7 1 failed"));
  ASSERT_TRUE(RunEventsUntil([&] { return !boxes.empty(); }, 10000));
  EXPECT_EQ(boxes[0], "Success: Database was sent to scale.");
  EXPECT_EQ(Cell(board, 0, TScalesBoard::kHolds), "this file") << "the window's own transfer shows without Ctrl+L";
}

// One local UDP port for every UDP scale, and one endpoint may hold it: the window's connection
// or the board's round. Each side says so in words; the board's other scales go on.
TEST_F(ScalesBoard, TheLocalUdpPortHeldByOneSideIsSaidOnTheOther) {
  const int boardUdpPort = TUdpPeer().Port();
  TScaleSimProcess udp({"--udp", "0", "--udp-reply-port", std::to_string(boardUdpPort), "--delay", "100"});
  TScaleSimProcess other({"--tcp", "0"});
  dir.Write("scales.targets", "udp=udp:127.0.0.1:" + std::to_string(udp.UdpPort()) + "\nother=" + Tcp(other.TcpPort()) + "\n");
  dir.Write("not-a-folder", "");
  form = std::make_unique<TForm1>();
  form->Transfer.SetPaceMs(2);
  OpenProducts();
  TScalesBoard& board = Board();
  ConnectionSettings = TConnectionSettings{1, "127.0.0.1", 1, udp.UdpPort()};
  // The connection as it stands once open over UDP: opening it would bind port 1001, which needs
  // privilege here.
  form->Connection->State = lsConnected;
  setenv("SCALEDB_LOCK_DIR", dir.File("not-a-folder").c_str(), 1);
  SendToAll(board);
  unsetenv("SCALEDB_LOCK_DIR");
  form->Connection->State = lsDisconnected;
  EXPECT_EQ(Cell(board, 0, TScalesBoard::kRound),
            "failed: the main window's connection holds UDP port 1001: press \"Disconnect\" there, then send again");
  EXPECT_TRUE(Cell(board, 1, TScalesBoard::kRound).startsWith("sent in "));
  EXPECT_EQ(board.Summary->text(), QString::fromUtf8("1 of 2 sent \u00B7 1 failed"));
  EXPECT_TRUE(board.Notice->text().startsWith("cannot take the lock of this scale: the folder ")) << "kept beside the summary";

  board.UdpLocalPort = boardUdpPort;
  board.SendToAll();
  ASSERT_TRUE(board.HoldsUdpPort());
  form->btnOpenPortClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Failure: The UDP connection cannot be opened: the Scales window sends to its UDP scales over local "
                      "port " + QString::number(boardUdpPort) + ". Connect again once those transfers have ended, or press "
                      "\"Stop\" there first.");
  EXPECT_EQ(form->PortState, lsDisconnected);
  ASSERT_TRUE(RunEventsUntil([&] { return !board.Sending(); }, 20000));
  EXPECT_TRUE(Cell(board, 0, TScalesBoard::kRound).startsWith("sent in ")) << Cell(board, 0, TScalesBoard::kRound).toStdString();
  RunEventsUntil([] { return false; }, 50);
  EXPECT_FALSE(board.HoldsUdpPort()) << "the port is given back when the round ends";
}

// A list that is there but cannot be read is no empty list: nothing may be saved over it.
TEST_F(ScalesBoard, AListThatCannotBeReadIsSaidAndNeverSavedOver) {
  struct TCase {
    const char* What;
    std::function<void(const std::string& path)> Make;
    const char* Reason;
  };
  const TCase cases[] = {
      {"a folder", [](const std::string& path) { std::filesystem::create_directory(path); }, "it is not a regular file"},
      {"too large", [](const std::string& path) { std::ofstream(path) << std::string((1 << 20) + 1, '#'); },
       "it is larger than 1 MiB"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string path = dir.File("scales.targets");
    std::filesystem::remove_all(path);
    c.Make(path);
    form = std::make_unique<TForm1>();
    TScalesBoard& board = Board();
    EXPECT_TRUE(board.Notice->text().contains(QString("cannot be read: ") + c.Reason)) << board.Notice->text().toStdString();
    EXPECT_FALSE(board.AddButton->isEnabled());
    std::filesystem::remove_all(path);
    dir.Write("scales.targets", "deli=tcp:127.0.0.1:4001\n");
    form->Scales1->trigger();
    EXPECT_EQ(board.Table->rowCount(), 1) << "File -> Scales reads it again";
    EXPECT_TRUE(board.AddButton->isEnabled());
    EXPECT_TRUE(board.Notice->text().isEmpty());
  }
}

// OK keeps the form open, the reason in its words, until the line names a scale the list holds
// as it was given.
TEST(ScaleEntryDialog, TakesOnlyLinesTheListReadsBackAsTheSameScale) {
  struct TCase {
    const char* Name;
    int Kind;  // 0 serial, 1 TCP, 2 UDP
    const char* HostOrPort;
    const char* Problem;  // empty: accepted
  };
  const TCase cases[] = {
      {"deli", 1, "127.0.0.1", ""},
      {"deli", 0, "/dev/ttyUSB0", ""},
      {"deli", 1, "", "no host given"},
      {"deli", 2, "scale.local", "a UDP target needs a dotted IPv4 address"},
      {"deli", 0, "", "no serial port given"},
      {"", 1, "127.0.0.1", "the scale needs a name"},
      {"#deli", 1, "127.0.0.1", "cannot start with '#'"},
      {"de=li", 1, "127.0.0.1", "cannot hold '='"},
      {"deli counter", 1, "127.0.0.1", "cannot hold spaces"},
      {"tcp:deli", 1, "127.0.0.1", "cannot start with serial:, tcp: or udp:"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " " + c.HostOrPort);
    TScaleEntryDialog dialog(std::nullopt);
    dialog.Name->setText(c.Name);
    dialog.Kind->setCurrentIndex(c.Kind);
    (c.Kind == 0 ? dialog.SerialPort : dialog.Host)->setText(c.HostOrPort);
    dialog.accept();
    if (*c.Problem == '\0') {
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
      const TScalesList read = ParseScalesList(dialog.Line().Text);
      ASSERT_TRUE(read.Lines.at(0).Target);
      EXPECT_EQ(read.Lines[0].Target->Name, c.Name);
    } else {
      EXPECT_NE(dialog.result(), QDialog::Accepted);
      EXPECT_TRUE(dialog.Error->text().contains(c.Problem, Qt::CaseInsensitive)) << dialog.Error->text().toStdString();
    }
  }

  const TScalesList unreadable = ParseScalesList("deli=tcp:127.0.0.1:70000\n");
  TScaleEntryDialog dialog(unreadable.Lines.at(0));
  EXPECT_EQ(dialog.Name->text(), "deli") << "the form starts from what can be read of the line";
  EXPECT_EQ(dialog.Kind->currentIndex(), 1);
  EXPECT_EQ(dialog.Host->text(), "127.0.0.1");
  EXPECT_TRUE(dialog.Error->text().contains("the port '70000' is not a number from 1 to 65535"));
}
