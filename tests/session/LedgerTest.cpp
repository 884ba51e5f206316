// The ledger against what happens to a scale, a damaged file and the history it replaces.

#include "History.h"
#include "Ledger.h"
#include "TempDir.h"

#include <gtest/gtest.h>

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
  for (const auto& step : steps) {
    step.Happens();
    const std::optional<TScaleState> state = ledger.State(deli.Key);
    ASSERT_TRUE(state) << step.What;
    EXPECT_EQ(state->Holds, step.Holds) << step.What;
    EXPECT_EQ(state->Digest, step.Digest) << step.What;
    EXPECT_EQ(ResultText(state->LastResult), step.LastResult) << step.What;
    EXPECT_EQ(state->Name, "deli");
  }
  EXPECT_FALSE(ledger.State("tcp:127.0.0.1:9")) << "a scale never sent to";
  EXPECT_EQ(ledger.Latest(10).size(), 4u) << "the attempt that never reached its scale is no transfer";
  EXPECT_EQ(ledger.TakeNotice(), "");
}

TEST(Ledger, ADamagedFileIsKeptAsideAndAFreshLedgerTakesOver) {
  TTempDir dir;
  dir.Write("scaledb.sqlite", std::string(8192, 'x'));
  TLedger ledger(dir.Path());
  EXPECT_TRUE(ledger.Usable());
  const std::string notice = ledger.TakeNotice();
  EXPECT_NE(notice.find("could not be read"), std::string::npos) << notice;
  int kept = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    if (entry.path().filename().string().starts_with("scaledb.sqlite.unreadable-"))
      kept += dir.Read(entry.path().filename()) == std::string(8192, 'x');
  EXPECT_EQ(kept, 1) << "nothing recorded is thrown away";
  EXPECT_NE(ledger.Begin({"tcp:127.0.0.1:4001", "deli"}, Transfer("d1")), 0);

  dir.Write("a file", "where the state folder should be");
  TLedger unusable(dir.File("a file/"));
  EXPECT_FALSE(unusable.Usable());
  EXPECT_NE(unusable.TakeNotice().find("Transfers go on unrecorded"), std::string::npos);
  EXPECT_EQ(unusable.Begin({"k", "n"}, Transfer("d1")), 0) << "and nothing fails for it";
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
