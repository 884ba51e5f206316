// What the history keeps of each transfer, and the history file itself.

#include "DatabaseTable.h"
#include "History.h"
#include "Session.h"
#include "TempDir.h"

#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {
// A scale that answers by hand; commands are only counted.
class TManualLink : public TLink {
 public:
  void Open() override {}
  void Close() override {}
  void Send(const std::string&) override {}
  LinkState State() const override { return lsConnected; }
  std::string Name() const override { return "tcp:127.0.0.1:4001"; }
};

class TransferRecords : public ::testing::Test {
 protected:
  TransferRecords() {
    session.Engine().SetRecordRetries(1);
    QObject::connect(&recorder, &TTransferRecorder::Recorded,
                     [this](const TTransferRecord& record) { records.push_back(record); });
  }
  // The scale answers a line and the tick it arms runs.
  void Answer(const std::string& line) {
    session.HandleReply(line + "\r\n", 0);
    session.Engine().PaceTick();
  }
  TTransferRecord Describe() const {
    TTransferRecord record;
    record.Program = "scaledb";
    record.File = "/shop/products.csv";
    record.Link = session.Link().Name();
    record.Kind = "products";
    record.Rows = 3;
    return record;
  }

  TScaleSession session{std::make_unique<TManualLink>(),
                        std::make_shared<const TDatabaseTable>(TDatabaseTable::Parse("a\nb\nc\n")), 0};
  TTransferRecorder recorder{session.Engine(), [this] { return Describe(); }};
  std::vector<TTransferRecord> records;
};
}  // namespace

TEST_F(TransferRecords, EachTransferBecomesOneRecordWithItsOutcome) {
  session.Start();
  for (const char* line : {"MbP", "Mr", "Er", "Mr", "Mr", "Me"}) Answer(line);
  session.Start();
  Answer("MbP");
  Answer("Er");
  Answer("Er");
  session.Start();
  Answer("MbP");
  session.Stop();
  EXPECT_TRUE(recorder.Current().has_value()) << "a stopped transfer may still reach its end";
  session.Start();
  Answer("MbP");
  recorder.Interrupt("interrupted");

  ASSERT_EQ(records.size(), 4u);
  const struct {
    const char* Result;
    int RecordsSent;
    int Resends;
    const char* Reason;
  } expected[] = {
      {"sent", 3, 1, ""},
      {"failed", 0, 1, "The scale refused record 1 of 3 (last answer: \"Er\")."},
      {"stopped", 0, 0, ""},
      {"failed", 0, 0, "interrupted"},
  };
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(ResultText(records[i].Result), expected[i].Result) << i;
    EXPECT_EQ(records[i].RecordsSent, expected[i].RecordsSent) << i;
    EXPECT_EQ(records[i].Resends, expected[i].Resends) << i;
    EXPECT_EQ(records[i].Reason, expected[i].Reason) << i;
    EXPECT_EQ(records[i].Link, "tcp:127.0.0.1:4001");
    EXPECT_EQ(records[i].Rows, 3);
  }
}

TEST_F(TransferRecords, AnEmptyRowEndsAsFailedWithTheWindowsText) {
  TScaleSession empty{std::make_unique<TManualLink>(),
                      std::make_shared<const TDatabaseTable>(TDatabaseTable::Parse("")), 0};
  TTransferRecorder emptyRecorder{empty.Engine(), [] { return TTransferRecord{}; }};
  std::vector<TTransferRecord> ended;
  QObject::connect(&emptyRecorder, &TTransferRecorder::Recorded,
                   [&](const TTransferRecord& record) { ended.push_back(record); });
  empty.Start();
  for (const char* line : {"MbP", "Me"}) {
    empty.HandleReply(std::string(line) + "\n", 0);
    empty.Engine().PaceTick();
  }
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ResultText(ended[0].Result), "failed");
  EXPECT_EQ(ended[0].Reason, "Database could not be sent to scale.");
}

TEST(TransferHistory, LinesAreAppendedAndReadBackNewestFirst) {
  TTempDir dir;
  const std::string path = dir.File("state/scaledb/transfers.jsonl");
  TTransferRecord record;
  record.Started = QDateTime::fromString("2026-12-09T21:30:05.250+01:00", Qt::ISODateWithMs);
  record.Program = "scaledb-send";
  record.File = "/srv/ceny \xC5\xBC\xC3\xB3\xC5\x82w.csv";
  record.Link = "serial:COM1@9600";
  record.Kind = "users";
  record.Rows = 120;
  record.RecordsSent = 16;
  record.Resends = 2;
  record.UnexpectedAnswers = 3;
  record.Result = TTransferResult::Failed;
  record.Seconds = 12.3456;
  record.Reason = "The scale refused record 17 of 120 (last answer: \"Er\").";
  for (int i = 0; i < 3; ++i) {
    record.Rows = 120 + i;
    AppendHistory(path, record);
  }
  std::string text = dir.Read("state/scaledb/transfers.jsonl");
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "{\"digest\":null,\"file\":\"/srv/ceny \xC5\xBC\xC3\xB3\xC5\x82w.csv\",\"ignored_datagrams\":0,\"kind\":\"users\","
            "\"link\":\"serial:COM1@9600\","
            "\"program\":\"scaledb-send\",\"reason\":\"The scale refused record 17 of 120 (last answer: \\\"Er\\\").\","
            "\"records_sent\":16,\"resends\":2,\"result\":\"failed\",\"rows\":120,\"seconds\":12.346,"
            "\"started\":\"2026-12-09T21:30:05.250+01:00\",\"unexpected_answers\":3}");

  dir.Write("state/scaledb/transfers.jsonl", text + "not json\n{\"started\":1}\n"
                                                      "{\"started\":\"2026-12-09T21:30:05.250+01:00\",\"result\":\"maybe\"}\n");
  const std::vector<TTransferRecord> newest = ReadHistory(path, 2);
  ASSERT_EQ(newest.size(), 2u) << "unreadable lines are skipped";
  EXPECT_EQ(newest[0].Rows, 122);
  EXPECT_EQ(newest[1].Rows, 121);
  EXPECT_EQ(newest[0].File, record.File);
  EXPECT_EQ(newest[0].Reason, record.Reason);
  EXPECT_EQ(newest[0].Started, record.Started);
  EXPECT_TRUE(ReadHistory(dir.File("none.jsonl"), 200).empty());

  dir.Write("state/scaledb/transfers.jsonl", text + "{\"started\":\"2026-12-09T21:3");
  record.Rows = 123;
  AppendHistory(path, record);
  EXPECT_EQ(ReadHistory(path, 1).at(0).Rows, 123) << "a torn last line does not swallow the next";

  record.Started = QDateTime(QDate(2026, 12, 9), QTime(2, 30), Qt::LocalTime);
  const QString started = QJsonDocument::fromJson(QByteArray::fromStdString(HistoryLine(record)))["started"].toString();
  EXPECT_EQ(QDateTime::fromString(started, Qt::ISODateWithMs), record.Started);
  EXPECT_TRUE(QRegularExpression("T02:30:00\\.000(Z|[+-]\\d\\d:\\d\\d)$").match(started).hasMatch())
      << "local time is written with its offset: " << started.toStdString();
}

TEST(TransferHistory, TheStartTimeAlwaysCarriesItsOffset) {
  TTransferRecord record;
  record.Result = TTransferResult::Sent;
  record.Started = QDateTime(QDate(2026, 12, 9), QTime(8, 48, 11, 670), Qt::UTC);
  EXPECT_NE(HistoryLine(record).find("\"started\":\"2026-12-09T08:48:11.670+00:00\""), std::string::npos)
      << HistoryLine(record);
  record.Started = QDateTime::fromString("2026-03-01T10:00:00.000-03:30", Qt::ISODateWithMs);
  EXPECT_NE(HistoryLine(record).find("\"started\":\"2026-03-01T10:00:00.000-03:30\""), std::string::npos);
  TTransferRecord back;
  ASSERT_TRUE(ParseHistoryLine(HistoryLine(record), back));
  EXPECT_EQ(back.Started, record.Started);
}

TEST(TransferHistory, AFolderThatCannotBeMadeIsReportedInWords) {
  TTempDir dir;
  dir.Write("state", "a file where the folder should be");
  try {
    AppendHistory(dir.File("state/scaledb/transfers.jsonl"), TTransferRecord{});
    FAIL() << "no error";
  } catch (const EHistory& error) {
    EXPECT_EQ(std::string(error.what()),
              "The transfer history cannot be written: cannot create " + dir.File("state/scaledb") + ": Not a directory");
  }
}

TEST(TransferHistory, TheStateDirectoryFollowsXdgStateHomeElseHome) {
  const char* saved = std::getenv("XDG_STATE_HOME");
  const std::string savedValue = saved ? saved : "";
  setenv("XDG_STATE_HOME", "/var/tmp/state", 1);
  EXPECT_EQ(HistoryPath(), "/var/tmp/state/scaledb/transfers.jsonl");
  setenv("XDG_STATE_HOME", "relative", 1);
  EXPECT_EQ(StateDirectory(), std::string(std::getenv("HOME")) + "/.local/state/scaledb/")
      << "a relative XDG_STATE_HOME is ignored";
  if (saved) setenv("XDG_STATE_HOME", savedValue.c_str(), 1); else unsetenv("XDG_STATE_HOME");
}
