// The ledger against what happens to a scale, a damaged or foreign file, another program that
// sets it aside, and the history it replaces.

#include "History.h"
#include "Ledger.h"
#include "Sqlite.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

namespace {
TTransferRecord Transfer(const std::string& digest, const std::string& result = "sent", const std::string& reason = "") {
  TTransferRecord record;
  record.Started = QDateTime::currentDateTime();
  record.Program = "scaledb-send";
  record.File = "/srv/prices.csv";
  record.Link = "tcp:127.0.0.1:4001";
  record.Kind = "products";
  record.Rows = 3;
  record.Digest = digest;
  record.Result = *ResultFromText(result);
  record.Reason = reason;
  return record;
}
}  // namespace

TEST(Ledger, WhatAScaleHoldsFollowsItsLatestTransferThatReachedIt) {
  TTempDir dir;
  TLedger ledger(dir.Path());
  ASSERT_TRUE(ledger.Usable()) << ledger.TakeNotice();
  const TScaleRef deli{"tcp:127.0.0.1:4001", "deli"};
  using THolds = TScaleState::THolds;
  const struct {
    const char* What;
    std::function<void()> Happens;
    THolds Holds;
    const char* Digest;
    const char* LastResult;
  } steps[] = {
      {"sent", [&] { ledger.End(ledger.Begin(deli, Transfer("d1")), Transfer("d1")); }, THolds::Content, "d1", "sent"},
      {"no link", [&] { ledger.RecordAttempt(deli, Transfer("d2", "failed", "could not connect within 2 s")); },
       THolds::Content, "d1", "failed"},
      {"failed after its start", [&] { ledger.End(ledger.Begin(deli, Transfer("d2")), Transfer("d2", "failed", "x")); },
       THolds::InterruptedLoad, "d2", "failed"},
      {"sent again", [&] { ledger.End(ledger.Begin(deli, Transfer("d2")), Transfer("d2")); }, THolds::Content, "d2", "sent"},
      {"killed", [&] { ledger.Begin(deli, Transfer("d3")); }, THolds::InterruptedLoad, "d3", "never ended"},
  };
  TSqliteDatabase other(ledger.Path());
  for (const auto& step : steps) {
    step.Happens();
    for (const char* how : {"as recorded", "rebuilt from the transfers"}) {
      const std::optional<TScaleState> state = ledger.State(deli.Key);
      ASSERT_TRUE(state) << step.What;
      EXPECT_EQ(state->Holds, step.Holds) << step.What << ", " << how;
      EXPECT_EQ(state->Digest, step.Digest) << step.What << ", " << how;
      EXPECT_EQ(ResultText(state->LastResult), step.LastResult) << step.What << ", " << how;
      EXPECT_EQ(state->Name, "deli");
      RebuildScales(other);
    }
  }
  EXPECT_FALSE(ledger.State("tcp:127.0.0.1:9")) << "a scale never sent to";
  const std::vector<TTransferRecord> latest = ledger.Latest(10);
  ASSERT_EQ(latest.size(), 5u) << "the transfers, and the failed attempt that never reached its scale";
  EXPECT_EQ(latest[3].Result, TTransferResult::Failed);
  EXPECT_EQ(latest[3].Reason, "could not connect within 2 s");
  EXPECT_EQ(latest[3].RecordsSent, 0);
  EXPECT_EQ(ledger.TakeNotice(), "");
}

namespace {
const char kEarlierAside[] = "an earlier ledger set aside";

// A ledger of many transfers, its pages after the first overwritten: it opens, and fails later.
void DamagePastPageOne(const TTempDir& dir) {
  {
    TLedger ledger(dir.Path());
    for (int i = 0; i < 200; ++i) ledger.RecordAttempt({"tcp:127.0.0.1:" + std::to_string(i), "scale"}, Transfer("d"));
  }
  std::string bytes = dir.Read("scaledb.sqlite");
  ASSERT_GT(bytes.size(), 4 * 4096u);
  std::fill(bytes.begin() + 4096, bytes.end(), 'x');
  dir.Write("scaledb.sqlite", bytes);
}

void MakeNewerVersion(const TTempDir& dir) {
  { TLedger made(dir.Path()); }
  TSqliteDatabase(dir.File("scaledb.sqlite")).Execute("PRAGMA user_version = 2");
}

// Every name a set-aside could take in the next seconds is taken already.
void TakeTheAsideNames(const TTempDir& dir) {
  dir.Write("scaledb.sqlite", std::string(8192, 'x'));
  const QDateTime now = QDateTime::currentDateTime();
  for (int second = 0; second < 3; ++second) {
    const std::string stamp = now.addSecs(second).toString("yyyyMMdd-HHmmss").toStdString();
    dir.Write("scaledb.sqlite.unreadable-" + stamp, kEarlierAside);
  }
}

int FilesHolding(const TTempDir& dir, const std::string& prefix, const std::string& bytes) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    const std::string name = entry.path().filename().string();
    count += name.starts_with(prefix) && dir.Read(name) == bytes;
  }
  return count;
}
}  // namespace

TEST(Ledger, OnlyAFileSqliteCannotReadIsSetAsideUnderAFreeNameAndOnlyOnce) {
  const struct {
    const char* What;
    std::function<void(const TTempDir&)> Prepare;
    bool SetAside;  // else it is left as it was, and not used
    const char* Notice;
  } cases[] = {
      {"not a database", [](const TTempDir& dir) { dir.Write("scaledb.sqlite", std::string(8192, 'x')); }, true,
       "could not be read (file is not a database); it is kept as "},
      {"damaged past its first page", DamagePastPageOne, true, "could not be read (cannot run a statement: "},
      {"every set-aside name of these seconds taken", TakeTheAsideNames, true, "could not be read"},
      {"made by a newer version", MakeNewerVersion, false,
       "cannot be used: it was made by a newer version of this program (schema 2). Transfers go on unrecorded there."},
  };
  for (const auto& c : cases) {
    TTempDir dir;
    c.Prepare(dir);
    const std::string before = dir.Read("scaledb.sqlite");
    const int earlier = FilesHolding(dir, "scaledb.sqlite.unreadable-", kEarlierAside);
    TLedger ledger(dir.Path());
    const std::vector<TScaleState> states = ledger.States();
    const std::string notice = ledger.TakeNotice();
    EXPECT_NE(notice.find(c.Notice), std::string::npos) << c.What << ": " << notice;
    EXPECT_EQ(FilesHolding(dir, "scaledb.sqlite.unreadable-", kEarlierAside), earlier) << c.What << ": none replaced";
    EXPECT_EQ(FilesHolding(dir, "scaledb.sqlite.unreadable-", before), c.SetAside ? 1 : 0) << c.What;
    EXPECT_EQ(ledger.Usable(), c.SetAside) << c.What;
    if (!c.SetAside) {
      EXPECT_EQ(dir.Read("scaledb.sqlite"), before) << c.What << ": left as it was";
      continue;
    }
    EXPECT_TRUE(states.empty()) << c.What << ": a fresh ledger";
    const TScaleRef deli{"tcp:127.0.0.1:4001", "deli"};
    ledger.End(ledger.Begin(deli, Transfer("d1")), Transfer("d1"));
    EXPECT_EQ(ledger.State(deli.Key)->Holds, TScaleState::THolds::Content) << c.What;
    EXPECT_EQ(ledger.TakeNotice(), "") << c.What << ": said once";
  }

  TTempDir dir;
  dir.Write("a file", "where the state folder should be");
  TLedger unusable(dir.File("a file/"));
  EXPECT_FALSE(unusable.Usable());
  EXPECT_NE(unusable.TakeNotice().find("Transfers go on unrecorded"), std::string::npos);
  EXPECT_EQ(unusable.Begin({"k", "n"}, Transfer("d1")), 0) << "and nothing fails for it";
}

TEST(Ledger, AProgramThatHasItOpenFollowsItWhenAnotherSetsItAside) {
  TTempDir dir;
  TLedger window(dir.Path());
  const TScaleRef deli{"tcp:127.0.0.1:4001", "deli"}, bakery{"tcp:127.0.0.1:4002", "bakery"};
  const int64_t underWay = window.Begin(deli, Transfer("d1"));
  std::filesystem::rename(dir.File("scaledb.sqlite"), dir.File("scaledb.sqlite.unreadable-20261209-023000"));
  window.End(window.Begin(bakery, Transfer("d2")), Transfer("d2"));
  window.End(underWay, Transfer("d1"));

  TLedger sender(dir.Path());
  ASSERT_TRUE(sender.State(bakery.Key)) << "recorded into the ledger under the name, not the one set aside";
  EXPECT_EQ(sender.State(bakery.Key)->Digest, "d2");
  ASSERT_TRUE(sender.State(deli.Key)) << "a transfer begun in the old file is recorded whole in the new one";
  EXPECT_EQ(sender.State(deli.Key)->Holds, TScaleState::THolds::Content);
  EXPECT_EQ(sender.Latest(10).size(), 2u);
  EXPECT_EQ(window.TakeNotice(), "");
}

TEST(Ledger, TheHistoryBeforeItIsImportedOnceWhenTheLedgerIsMade) {
  TTempDir dir;
  AppendHistory(dir.File("transfers.jsonl"), Transfer("", "sent"));
  AppendHistory(dir.File("transfers.jsonl"), Transfer("", "failed", "The scale refused record 2 of 3."));
  {
    TLedger ledger(dir.Path());
    ASSERT_EQ(ledger.Latest(10).size(), 2u);
    EXPECT_EQ(ledger.Latest(10)[0].Reason, "The scale refused record 2 of 3.");
    const std::optional<TScaleState> state = ledger.State("tcp:127.0.0.1:4001");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->Holds, TScaleState::THolds::InterruptedLoad);
    EXPECT_TRUE(state->LastSuccess) << "the older line was a success";
  }
  AppendHistory(dir.File("transfers.jsonl"), Transfer("", "sent"));
  TLedger reopened(dir.Path());
  EXPECT_EQ(reopened.Latest(10).size(), 2u) << "imported once, never again";
}
