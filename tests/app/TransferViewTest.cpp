// What the operator sees of a transfer: the progress line, the row being sent, the box of a
// transfer that gave up, and the transfer history with its window.

#include "ContentDigest.h"
#include "Global.h"
#include "History.h"
#include "HistoryWindow.h"
#include "MessageBox.h"
#include "RadioGroup.h"
#include "ScaleKey.h"
#include "ScaleLock.h"
#include "TempDir.h"
#include "TransferProgress.h"
#include "TransferSettingsDialogs.h"
#include "TransferWait.h"
#include "okno.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {
struct TShownBox {
  QString Text;
  QString Title;
  TMessageIcon Icon;
};

class TransferView : public ::testing::Test {
 protected:
  TransferView() {
    SetExecutableDirectory(dir.Path());
    ConnectionSettings = TConnectionSettings{};
    TransferSettings = TTransferSettings{};
    savedStateHome = std::getenv("XDG_STATE_HOME");
    setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
    MessageBoxHook = [this](const QString& text, const QString& title, TMessageIcon icon) {
      boxes.push_back({text, title, icon});
    };
  }
  ~TransferView() override {
    form.reset();
    MessageBoxHook = [](const QString& text, const QString& title, TMessageIcon) {
      ADD_FAILURE() << "unexpected message box: " << title.toStdString() << ": " << text.toStdString();
    };
    setenv("XDG_STATE_HOME", savedStateHome.c_str(), 1);
    SetExecutableDirectory("");
  }

  void Create() {
    form = std::make_unique<TForm1>();
    form->Transfer.SetPaceMs(2);
  }
  void Open(const std::string& name, const std::string& bytes) {
    dir.Write(name, bytes);
    form->OpenDialog1 = [this, name] { return QString::fromStdString(dir.File(name)); };
    form->Otwrz1Click();
  }
  // The scale answers a line and the tick it arms runs.
  void Answer(const std::string& line) {
    form->HandleReply(line + "\r\n", 0);
    form->TimerBazaTimer();
  }
  QString Line() const { return form->Progress->Line->text(); }
  int SelectedRow() const { return form->StringGrid1->currentIndex().row(); }

  TTempDir dir;
  std::string savedStateHome;
  std::unique_ptr<TForm1> form;
  std::vector<TShownBox> boxes;
};
}  // namespace

TEST(ProgressLine, CountsRecordsTimeAndTheTimeLeftFromTheRhythmSoFar) {
  const struct {
    int Cursor;
    int Rows;
    qint64 ElapsedMs;
    const char* Text;
  } cases[] = {
      {0, 120, 1400, "Start command \u00B7 0:01 elapsed"},
      {1, 5000, 300, "Record 1 of 5,000 \u00B7 0:00 elapsed"},
      {1234, 5000, 123000, "Record 1,234 of 5,000 \u00B7 2:03 elapsed \u00B7 about 6:16 left"},
      {20000, 20000, 3723000, "Record 20,000 of 20,000 \u00B7 1:02:03 elapsed \u00B7 about 0:00 left"},
      {-1, 5000, 521000, "End command \u00B7 8:41 elapsed"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressText(c.Cursor, c.Rows, c.ElapsedMs), QString::fromUtf8(c.Text));
  EXPECT_EQ(DurationText(36000000 + 59499), "10:00:59");
}

// The window's transfer takes the sender's path: the scale's text reaches the session through the
// window's link, and the button shows what the engine says.
TEST_F(TransferView, TheScalesTextGoesThroughTheWindowsLinkAndTheButtonFollowsTheEngine) {
  Create();
  std::vector<std::string> received;
  QObject::connect(&form->Session.Link(), &TLink::TextReceived,
                   [&received](const std::string& text) { received.push_back(text); });
  form->bbWyslijBazeClick();
  EXPECT_TRUE(form->Transfer.Stoppable());
  EXPECT_EQ(form->SendButtonTag(), 1);
  form->HandleReply("MbP\r\n", 5);
  EXPECT_EQ(received, std::vector<std::string>{"MbP\r\n"});
  EXPECT_EQ(form->Transfer.TransferCursor, 1);
  form->bbWyslijBazeClick();
  EXPECT_FALSE(form->Transfer.Stoppable());
  EXPECT_TRUE(form->Transfer.Running()) << "acknowledgements still carry it on after Stop";
  EXPECT_EQ(form->SendButtonTag(), 0);
  EXPECT_EQ(form->bbWyslijBaze->text(), "Send database");
}

TEST_F(TransferView, TheLimitsComeFromConfigXml) {
  Create();
  EXPECT_EQ(form->Transfer.AnswerTimeoutMs(), 15000);
  EXPECT_EQ(form->Transfer.RecordRetries(), 5);
  form.reset();
  dir.Write("config.xml", "<RS232Config><Transfer><AnswerTimeout>2</AnswerTimeout>"
                          "<RecordRetries>0</RecordRetries></Transfer></RS232Config>");
  Create();
  EXPECT_EQ(form->Transfer.AnswerTimeoutMs(), 2000);
  EXPECT_EQ(form->Transfer.RecordRetries(), TTransfer::kUnlimitedRetries);
}

TEST_F(TransferView, ASilentScaleEndsWithTheReasonInTheBoxTheLineAndTheHistory) {
  Create();
  form->Transfer.SetAnswerTimeoutMs(50);
  form->bbWyslijBazeClick();
  EXPECT_EQ(Line(), QString::fromUtf8("Start command \u00B7 0:00 elapsed"));
  EXPECT_TRUE(form->Progress->Bar->isVisibleTo(form.get()));
  ASSERT_TRUE(RunEventsUntil([&] { return !boxes.empty(); }, 5000));

  const QString reason = "The scale did not answer within 0.05 s (start command).";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, reason + "\nDatabase could not be sent to scale.");
  EXPECT_EQ(boxes[0].Title, "Failure");
  EXPECT_EQ(boxes[0].Icon, TMessageIcon::Information);
  EXPECT_EQ(form->bbWyslijBaze->text(), "Send database");
  EXPECT_TRUE(form->btnOpenPort->isEnabled());
  EXPECT_EQ(Line(), reason);

  const std::vector<TTransferRecord> history = ReadHistory(HistoryPath(), 10);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].Program, "scaledb");
  EXPECT_EQ(history[0].File, "");
  EXPECT_EQ(history[0].Link, "serial:COM1@9600");
  EXPECT_EQ(history[0].Kind, "products");
  EXPECT_EQ(history[0].Rows, 5);
  EXPECT_EQ(ResultText(history[0].Result), "failed");
  EXPECT_EQ(history[0].Reason, reason.toStdString());
}

TEST_F(TransferView, TheRowBeingSentIsSelectedWithoutTakingTheFocusAndARefusalEndsTheTransfer) {
  Create();
  form->show();
  QApplication::setActiveWindow(form.get());
  form->bbWyslijBaze->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), form->bbWyslijBaze);
  Open("labels.csv", "a\nb\nc\n");
  form->rgUrzadzenie->SetItemIndex(1);
  form->Transfer.SetRecordRetries(2);

  form->bbWyslijBazeClick();
  Answer("MbP");
  // What the operator sees follows at the display rate.
  ASSERT_TRUE(RunEventsUntil([&] { return SelectedRow() == 0; }, 5000));
  EXPECT_EQ(SelectedRow(), 0);
  Answer("Mr");
  ASSERT_TRUE(RunEventsUntil([&] { return SelectedRow() == 1; }, 5000));
  EXPECT_EQ(SelectedRow(), 1);
  EXPECT_TRUE(form->StringGrid1->selectionModel()->isRowSelected(1, {}));
  EXPECT_TRUE(Line().startsWith(QString::fromUtf8("Record 2 of 3 \u00B7 0:00 elapsed \u00B7 about ")));
  EXPECT_EQ(form->Progress->Bar->value(), 1);
  EXPECT_EQ(QApplication::focusWidget(), form->bbWyslijBaze);

  Answer("Er");
  Answer("Er");
  EXPECT_TRUE(boxes.empty());
  Answer("Er");
  const QString reason = "The scale refused record 2 of 3 (last answer: \"Er\").";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, reason + "\nDatabase could not be sent to scale.");
  EXPECT_EQ(boxes[0].Title, "Failure");
  EXPECT_EQ(form->SendButtonTag(), 0);
  EXPECT_EQ(Line(), reason);

  const std::vector<TTransferRecord> history = ReadHistory(HistoryPath(), 10);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].File, dir.File("labels.csv"));
  EXPECT_EQ(history[0].Kind, "labels");
  EXPECT_EQ(history[0].RecordsSent, 1);
  EXPECT_EQ(history[0].Resends, 2);
}

TEST_F(TransferView, ASentTableNamesItsRecordsUntilTheNextFile) {
  Create();
  Open("db.csv", "a\nb\n");
  form->bbWyslijBazeClick();
  for (const char* line : {"MbP", "Mr", "Mr", "Me"}) Answer(line);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Title, "Success");
  EXPECT_EQ(Line(), "Sent 2 records in 0:00");
  EXPECT_EQ(form->Progress->Bar->value(), form->Progress->Bar->maximum());
  Answer("Mr");
  EXPECT_EQ(Line(), "Sent 2 records in 0:00") << "a line after the end shows the box again, not a new result";
  EXPECT_EQ(ReadHistory(HistoryPath(), 10).size(), 1u);

  Open("db.csv", "a\n");
  EXPECT_EQ(Line(), "");
  EXPECT_FALSE(form->Progress->Bar->isVisibleTo(form.get()));
}

TEST_F(TransferView, AcknowledgementsThatNoCommandAskedForSendNothingAndShowNothing) {
  Create();
  for (const char* line : {"MbP", "Mr", "Mr", "Mr", "Mr", "Mr", "Me"}) Answer(line);
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(ReadHistory(HistoryPath(), 10).empty()) << "no transfer was started";
}

TEST_F(TransferView, StopSaysWhereTheTransferStoodAndTheNextStartRecordsItAsStopped) {
  Create();
  form->bbWyslijBazeClick();
  Answer("MbP");
  form->bbWyslijBazeClick();
  EXPECT_EQ(Line(), QString::fromUtf8("Stopped at record 1 of 5 \u00B7 0:00 elapsed"));
  form->Transfer.SetAnswerTimeoutMs(0);
  form->bbWyslijBazeClick();
  const std::vector<TTransferRecord> history = ReadHistory(HistoryPath(), 10);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(ResultText(history[0].Result), "stopped");
}

TEST_F(TransferView, AHistoryThatCannotBeWrittenIsReportedOnceAndBlocksNothing) {
  dir.Write("state", "a file where the folder should be");
  Create();
  form->Transfer.SetAnswerTimeoutMs(20);
  QSignalSpy messages(form->statusBar(), &QStatusBar::messageChanged);
  for (int transfer = 1; transfer <= 2; ++transfer) {
    form->bbWyslijBazeClick();
    ASSERT_TRUE(RunEventsUntil([&] { return boxes.size() == static_cast<size_t>(transfer); }, 5000));
  }
  EXPECT_EQ(form->statusBar()->currentMessage().toStdString(),
            "The transfer history cannot be written: cannot create " + dir.File("state/scaledb") + ": Not a directory");
  EXPECT_EQ(messages.count(), 1);
}

TEST_F(TransferView, TheHistoryWindowListsTheNewestFirstAndOpensItsFolder) {
  TTransferRecord record;
  record.Started = QDateTime::fromString("2026-03-01T10:00:00.000+01:00", Qt::ISODateWithMs);
  record.File = "/shop/products.csv";
  record.Link = "tcp:127.0.0.1:4001";
  record.Kind = "products";
  record.Rows = 5000;
  record.RecordsSent = 5000;
  record.Result = TTransferResult::Sent;
  record.Seconds = 521.2;
  for (int i = 0; i < 202; ++i) AppendHistory(HistoryPath(), record);
  record.Rows = 120;
  record.Result = TTransferResult::Failed;
  record.Seconds = 3;
  record.Reason = "The scale refused record 17 of 120 (last answer: \"Er\").";
  AppendHistory(HistoryPath(), record);

  Create();
  form->TransferHistory1->trigger();
  ASSERT_NE(form->HistoryWindow, nullptr);
  EXPECT_TRUE(form->HistoryWindow->isVisible());
  EXPECT_LE(form->HistoryWindow->width(), form->HistoryWindow->screen()->availableGeometry().width())
      << "the window, its Close button with it, fits on the screen";
  const QTableWidget& table = *form->HistoryWindow->Table;
  ASSERT_EQ(table.rowCount(), 200);
  ASSERT_EQ(table.columnCount(), 8);
  QStringList headers, newest, older;
  for (int column = 0; column < 8; ++column) {
    headers << table.horizontalHeaderItem(column)->text();
    newest << table.item(0, column)->text();
    older << table.item(1, column)->text();
  }
  EXPECT_EQ(headers, QStringList({"Time", "File", "Link", "Kind", "Rows", "Result", "Duration", "Reason"}));
  const QString time = record.Started.toLocalTime().toString("yyyy-MM-dd HH:mm:ss");
  EXPECT_EQ(newest, QStringList({time, "/shop/products.csv", "tcp:127.0.0.1:4001", "products", "120", "failed", "0:03",
                                 "The scale refused record 17 of 120 (last answer: \"Er\")."}));
  EXPECT_EQ(older[4], "5,000");
  EXPECT_EQ(older[6], "8:41");
  EXPECT_EQ(table.editTriggers(), QAbstractItemView::NoEditTriggers);

  form->Transfer.SetAnswerTimeoutMs(20);
  form->bbWyslijBazeClick();
  ASSERT_TRUE(RunEventsUntil([&] { return !boxes.empty(); }, 5000));
  EXPECT_EQ(table.item(0, 5)->text(), "failed");
  EXPECT_EQ(table.item(0, 7)->text(), "The scale did not answer within 0.02 s (start command).")
      << "an open history window shows each new transfer";

  std::filesystem::remove_all(dir.File("state"));
  QUrl opened;
  form->HistoryWindow->OpenUrl = [&](const QUrl& url) {
    opened = url;
    return true;
  };
  form->HistoryWindow->OpenFolderButton->click();
  EXPECT_EQ(opened, QUrl::fromLocalFile(QString::fromStdString(dir.File("state/scaledb/"))));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("state/scaledb")));
}

TEST_F(TransferView, AFileTheCodePageCannotHoldIsRefusedWithItsReasonUntilTransliterationIsOn) {
  dir.Write("config.xml", "<RS232Config><Transfer><ScaleCodePage>CP1250</ScaleCodePage></Transfer></RS232Config>");
  Create();
  QSignalSpy commands(&form->Transfer, &TTransfer::CommandSent);
  EXPECT_FALSE(form->CheckFile1->isEnabled()) << "nothing to check before a file";
  Open("cyrillic.csv", "1;\xD0\x96uk;4.99\n2;Ser\n");
  EXPECT_TRUE(form->CheckFile1->isEnabled());
  EXPECT_EQ(form->FileSummary->text(),
            QString::fromUtf8("2 rows × 3 fields · UTF-8 → CP1250 · cannot be sent: 1 character not in CP1250"));

  form->bbWyslijBazeClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, QString::fromUtf8("CP1250 cannot hold 1 character of the file (row 1, field 2: \"Ж\").\n"
                                             "Database could not be sent to scale."));
  EXPECT_EQ(boxes[0].Title, "Failure");
  EXPECT_EQ(form->SendButtonTag(), 0);
  EXPECT_EQ(commands.count(), 0) << "not even the start command";

  TTransferSettingsDialog dialog(TransferSettings);
  EXPECT_EQ(dialog.CodePage->currentText(), "CP1250");
  dialog.Transliterate->setChecked(true);
  dialog.RecordRetries->setValue(0);
  EXPECT_EQ(dialog.RecordRetries->text(), "no limit");
  form->ApplyTransferSettings(dialog.Settings());
  EXPECT_TRUE(TransferSettings.Transliterate);
  EXPECT_EQ(form->Transfer.RecordRetries(), TTransfer::kUnlimitedRetries);
  EXPECT_EQ(form->FileSummary->text(), QString::fromUtf8("2 rows × 3 fields · UTF-8 → CP1250 · 2 warnings"));
  form->bbWyslijBazeClick();
  ASSERT_EQ(commands.count(), 1);
  Answer("MbP");
  EXPECT_EQ(commands.at(1).at(2).value<std::string>(), "Sr1;?uk;4.99");
}

TEST_F(TransferView, OpenIsRefusedWhileSendingAndATransferReadsTheTableItStartedWith) {
  Create();
  Open("first.csv", "a\nb\n");
  form->bbWyslijBazeClick();
  Answer("MbP");
  Open("second.csv", "x\ny\nz\n");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Title, "Open");
  EXPECT_EQ(form->Database.Table().RowText(0), "a") << "the refused file is not shown";
  form->bbWyslijBazeClick();
  Open("second.csv", "x\ny\nz\n");
  EXPECT_EQ(form->Database.Table().RowText(0), "x") << "after Stop another file opens";
  form->Transfer.SetAnswerTimeoutMs(0);
  Answer("Mr");
  Answer("Mr");
  Answer("Me");
  const std::vector<TTransferRecord> history = ReadHistory(HistoryPath(), 1);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].Rows, 2) << "the transfer went on with its own table";
  EXPECT_EQ(history[0].RecordsSent, 2);
}

TEST_F(TransferView, ASendAfterStopAndOpenRecordsTheNewTableNotTheStoppedOne) {
  Create();
  form->Transfer.SetAnswerTimeoutMs(0);
  Open("first.csv", "a\nb\n");
  form->bbWyslijBazeClick();
  Answer("MbP");
  form->bbWyslijBazeClick();
  Open("second.csv", "x\ny\nz\n");
  form->bbWyslijBazeClick();
  for (const char* line : {"MbP", "Mr", "Mr", "Mr", "Me"}) Answer(line);
  const std::vector<TTransferRecord> history = ReadHistory(HistoryPath(), 2);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(ResultText(history[1].Result), "stopped");
  EXPECT_EQ(history[1].Rows, 2);
  EXPECT_EQ(ResultText(history[0].Result), "sent");
  EXPECT_EQ(history[0].Rows, 3);
  EXPECT_EQ(history[0].Digest, ContentDigest(form->Database.Table(), form->DatabaseKindPosition(), nullptr))
      << "the ledger must not credit the scale with the stopped transfer's table";
}

TEST_F(TransferView, AConfigXmlThatCannotBeReadIsSaidAtStartAndKeptAtClose) {
  dir.Write("config.xml", "<RS232Config><Interface><Host>10.0.0.9</Host></Interface></RS232Confg>");
  Create();
  const QString message = form->statusBar()->currentMessage();
  EXPECT_TRUE(message.startsWith(QString::fromStdString(dir.File("config.xml") + " could not be read: it is not well-formed XML")))
      << message.toStdString();
  EXPECT_TRUE(message.contains(QString::fromStdString(form->XMLConfig.KeptAs))) << message.toStdString();
  form->FormClose();
  EXPECT_EQ(dir.Read(form->XMLConfig.KeptAs.substr(dir.Path().size())),
            "<RS232Config><Interface><Host>10.0.0.9</Host></Interface></RS232Confg>");
  EXPECT_TRUE(boxes.empty());
}

TEST_F(TransferView, SettingsThatCannotBeReadWholeAreSaidAtStart) {
  const struct {
    const char* Name;
    std::function<void()> Arrange;
    std::string Message;
  } cases[] = {
      {"a key without its text",
       [this] { dir.Write("config.xml", "<RS232Config><Interface><Kind>Eth</Kind><Host/></Interface></RS232Config>"); },
       dir.File("config.xml") + " could not be read whole: the key Host of Interface has no text. The settings from "
                                "there on keep their defaults."},
      {"a serial settings file that is a folder",
       [this] { std::filesystem::create_directories(dir.File("RuzOzodArir.ini")); },
       dir.File("RuzOzodArir.ini") + " could not be read: Failed to load settings. The serial port keeps its defaults."},
  };
  for (const auto& test : cases) {
    std::filesystem::remove_all(dir.File("config.xml"));
    std::filesystem::remove_all(dir.File("RuzOzodArir.ini"));
    ConnectionSettings = TConnectionSettings{};
    test.Arrange();
    Create();
    EXPECT_EQ(form->statusBar()->currentMessage().toStdString(), test.Message) << test.Name;
    form.reset();
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(TransferView, ConnectToABroadcastOrMulticastUdpAddressIsRefusedInAFailureBox) {
  for (const char* host : {"255.255.255.255", "224.0.0.1", "0.0.0.0"}) {
    Create();
    ConnectionSettings = TConnectionSettings{1, host, 1, 5000};
    boxes.clear();
    form->btnOpenPortClick();
    ASSERT_EQ(boxes.size(), 1u) << host;
    EXPECT_EQ(boxes[0].Title, "Failure");
    EXPECT_TRUE(boxes[0].Text.startsWith(host)) << boxes[0].Text.toStdString();
    EXPECT_EQ(form->Connection->State, 0) << "nothing was opened, nothing sent";
    form.reset();
  }
}

TEST_F(TransferView, AScaleAnotherSenderTalksToIsBusyAndGetsNothing) {
  Create();
  Open("products.csv", "a\nb\n");
  TLinkSettings link;
  link.SerialPort = form->ComPort1.Port();
  TScaleLock other;
  ASSERT_FALSE(other.Take(ScaleKeyOf(link), "scaledb-send").Refused);
  QSignalSpy commands(&form->Transfer, &TTransfer::CommandSent);
  form->bbWyslijBazeClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Title, "Failure");
  EXPECT_EQ(boxes[0].Text, QString("busy: another sender (pid %1, scaledb-send) is sending to this scale").arg(getpid()));
  EXPECT_EQ(commands.count(), 0);
  EXPECT_EQ(form->SendButtonTag(), 0);
}
