#include "FakeTransferHost.h"
#include "ScaleCommands.h"

#include <QTest>

namespace {
using Commands = std::vector<std::string>;

class Transfer : public TransferFixture {
 protected:
  // Presses "Send database" and acknowledges the start command.
  void StartAndAcknowledge() {
    transfer.Start();
    Answer("MbP");
  }
  // Acknowledges every row and the end command.
  void AcknowledgeRowsAndEnd() {
    for (int i = 0; i < host.RowCount(); ++i) Answer("Mr");
    Answer("Me");
  }
};
}  // namespace

TEST_F(Transfer, SendDatabaseStartsRunningAndSendsOnlyTheStartCommand) {
  transfer.TransferCursor = 7;
  transfer.TransferFailed = true;
  transfer.Start();
  EXPECT_EQ(host.Tag, 1);
  EXPECT_EQ(Cursor(), 0);
  EXPECT_FALSE(transfer.TransferFailed);
  EXPECT_EQ(host.Sent, Commands{"SbP"});
  EXPECT_FALSE(TimerArmed()) << "the first tick follows the start acknowledgement";
}

TEST_F(Transfer, StartCommandAndAcknowledgementFollowThePosition) {
  const std::pair<const char*, const char*> kinds[] = {{"SbP", "MbP"}, {"SbU", "MbU"}, {"SbS", "MbS"}};
  for (int position = 0; position < 3; ++position) {
    host = TFakeTransferHost();
    host.Position = position;
    transfer.Start();
    Answer(kinds[position].second);
    EXPECT_EQ(host.Sent, (Commands{kinds[position].first, "Sr;;;;"})) << "position " << position;
  }
}

TEST_F(Transfer, PositionWithoutADatabaseKindSendsNoStartCommand) {
  host.Position = 3;
  transfer.Start();
  EXPECT_EQ(host.Tag, 1);
  EXPECT_TRUE(host.Sent.empty());
}

TEST_F(Transfer, EmptyFiveByFiveTableSendsFiveEmptyRecordsAndSucceeds) {
  StartAndAcknowledge();
  AcknowledgeRowsAndEnd();
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sr;;;;", "Sr;;;;", "Sr;;;;", "Sr;;;;", "Sr;;;;", "Se"}));
  EXPECT_EQ(host.Results, Commands{"Success"});
  EXPECT_EQ(host.Tag, 0);
  EXPECT_EQ(Cursor(), -2);
}

TEST_F(Transfer, RowTextSpansEveryColumnOfTheTable) {
  host.Table = TDatabaseTable::Parse("a;b\n1;2;3;4\n");
  StartAndAcknowledge();
  AcknowledgeRowsAndEnd();
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sra;b;;", "Sr1;2;3;4", "Se"}));
}

TEST_F(Transfer, EmptyFileEndsAtOnceAndFails) {
  host.Table = TDatabaseTable::Parse("");
  StartAndAcknowledge();
  EXPECT_EQ(Cursor(), -1);
  EXPECT_TRUE(transfer.TransferFailed);
  Answer("Me");
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Se"}));
  EXPECT_EQ(host.Results, Commands{"Failure"});
}

TEST_F(Transfer, EmptyRowOfAOneColumnTableEndsEarly) {
  host.Table = TDatabaseTable::Empty(3, 1);
  StartAndAcknowledge();
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Se"}));
  EXPECT_EQ(Cursor(), -1);
}

TEST_F(Transfer, TickAtTheStartSendsNothingAndAWrongStartLineIsNotAnswered) {
  transfer.Start();
  Tick();
  Answer("MbU");
  Answer("Mr");
  EXPECT_EQ(host.Sent, Commands{"SbP"});
  EXPECT_EQ(Cursor(), 0);
  EXPECT_EQ(host.Tag, 1) << "no acknowledgement, the button keeps showing Stop";
}

TEST_F(Transfer, MismatchedRecordAcknowledgementRepeatsTheRecordWithoutLimit) {
  host.Table = TDatabaseTable::Parse("a\nb\n");
  StartAndAcknowledge();
  for (int i = 0; i < 50; ++i) Answer(i % 2 ? "mr" : "Mr.");
  EXPECT_EQ(host.Sent.size(), 52u);
  EXPECT_EQ(host.Sent.back(), "Sra");
  Answer("Mr");
  EXPECT_EQ(host.Sent.back(), "Srb");
}

TEST_F(Transfer, LastRowAcknowledgedSendsTheEndOnceAndWaitsForMe) {
  host.Table = TDatabaseTable::Parse("a\n");
  StartAndAcknowledge();
  Answer("Mr");
  EXPECT_EQ(host.Sent.back(), "Se");
  EXPECT_EQ(Cursor(), -1);
  Answer("Mr");
  Answer("junk");
  Tick();
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sra", "Se"})) << "Se is not repeated";
  EXPECT_EQ(Cursor(), -1);
}

TEST_F(Transfer, AcknowledgementsThatNoCommandAwaitsMoveNothingAndAreCounted) {
  int unexpected = 0;
  QObject::connect(&transfer, &TTransfer::UnexpectedAnswer, [&](const std::string&) { ++unexpected; });
  host.Table = TDatabaseTable::Parse("a\nb\n");
  StartAndAcknowledge();
  Reply("Mr\r\n");
  Reply("Mr\r\n");
  Reply("Mr\r\n");
  EXPECT_EQ(Cursor(), 2) << "a repeated acknowledgement must not skip record 2";
  Tick();
  Reply("Mr\r\n");
  Reply("Mr\r\n");
  EXPECT_EQ(Cursor(), 3);
  Tick();
  Answer("Me");
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sra", "Srb", "Se"}));
  EXPECT_EQ(host.Results, Commands{"Success"});
  EXPECT_EQ(unexpected, 3);
}

TEST_F(Transfer, StopLeavesCursorAndTimerAloneAndAcknowledgementsReachTheEndStep) {
  host.Table = TDatabaseTable::Parse("a\nb\n");
  StartAndAcknowledge();
  Reply("Mr\r\n");
  transfer.Stop();
  EXPECT_EQ(host.Tag, 0);
  EXPECT_EQ(Cursor(), 2);
  EXPECT_TRUE(TimerArmed());
  Tick();
  Answer("Mr");
  Answer("Me");
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sra", "Srb", "Se"}));
  EXPECT_EQ(host.Results, Commands{"Success"});
  EXPECT_EQ(host.Tag, 0);
}

TEST_F(Transfer, AnEndWithFewerRecordsAcknowledgedThanRowsIsAFailureNotSent) {
  std::vector<std::string> reasons;
  QObject::connect(&transfer, &TTransfer::Abandoned, [&](const std::string& reason) { reasons.push_back(reason); });
  host.Table = TDatabaseTable::Parse("a\n");
  StartAndAcknowledge();
  Answer("Mr");
  host.Table = TDatabaseTable::Parse("a\nb\n");
  Answer("Me");
  EXPECT_TRUE(host.Results.empty());
  EXPECT_EQ(reasons, Commands{"The scale acknowledged 1 of 2 records."});
  EXPECT_EQ(host.Tag, 0);
}

TEST_F(Transfer, LineAfterTheEndStepShowsNoResultAgainAndStaysIdle) {
  StartAndAcknowledge();
  AcknowledgeRowsAndEnd();
  Answer("anything");
  Answer("Me");
  EXPECT_EQ(host.Results, Commands{"Success"});
  EXPECT_EQ(host.Tag, 0);
  EXPECT_EQ(Cursor(), -2);
  EXPECT_EQ(host.Sent.back(), "Se");
}

TEST_F(Transfer, PressingAgainAfterAFailureStartsAFreshTransfer) {
  host.Table = TDatabaseTable::Parse("");
  StartAndAcknowledge();
  Answer("Me");
  host.Table = TDatabaseTable::Parse("a\n");
  StartAndAcknowledge();
  AcknowledgeRowsAndEnd();
  EXPECT_EQ(host.Results, (Commands{"Failure", "Success"}));
}

TEST_F(Transfer, KindChangedBeforeTheStartAcknowledgementChangesWhatIsAccepted) {
  transfer.Start();
  host.Position = 1;
  Answer("MbP");
  EXPECT_EQ(Cursor(), 0);
  Answer("MbU");
  EXPECT_EQ(Cursor(), 1);
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sr;;;;"}));
}

TEST_F(Transfer, NoTransferStartedYetAStartAcknowledgementSendsNothing) {
  Answer("MbP");
  EXPECT_TRUE(host.Sent.empty());
  EXPECT_EQ(Cursor(), 0);
  EXPECT_EQ(host.Tag, 0);
}

TEST_F(Transfer, EveryTickReadsTheTableAnew) {
  host.Table = TDatabaseTable::Parse("a\nb\nc\n");
  StartAndAcknowledge();
  host.Table = TDatabaseTable::Parse("x;1\ny;2\nz;3\nw;4\n");
  Answer("Mr");
  EXPECT_EQ(host.Sent.back(), "Sry;2");
  host.Table = TDatabaseTable::Parse("p\nq\n");
  Answer("Mr");
  EXPECT_EQ(host.Sent.back(), "Se") << "cursor 3 is N + 1 for the two-row table";

  host = TFakeTransferHost();
  host.Table = TDatabaseTable::Parse("a\nb\nc\n");
  StartAndAcknowledge();
  Answer("Mr");
  Answer("Mr");
  host.Table = TDatabaseTable::Parse("p\n");
  Reply("Mr\r\n");
  Tick();
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sra", "Srb", "Src"})) << "cursor 4 is above N + 1: nothing";
}

TEST_F(Transfer, AStartCommandThatCannotBeSentEndsTheTransferFailedWithItsReason) {
  std::vector<std::string> reasons;
  QObject::connect(&transfer, &TTransfer::Abandoned, [&reasons](const std::string& reason) { reasons.push_back(reason); });
  host.FailSending = true;
  EXPECT_NO_THROW(transfer.Start());
  EXPECT_EQ(reasons, std::vector<std::string>{"link gone"});
  EXPECT_EQ(host.Tag, 0) << "the button is back, nothing claims a transfer under way";
  EXPECT_TRUE(transfer.TransferFailed);
  EXPECT_TRUE(host.Results.empty()) << "never \"sent\"";
  EXPECT_FALSE(TimerArmed());
}

TEST_F(Transfer, TheTimerTicksOnceAnIntervalAfterTheLineAndDisablesItself) {
  host.Table = TDatabaseTable::Parse("a\nb\nc\n");
  transfer.Start();
  Reply("MbP\r\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.Sent.size() == 2; }, 5000));
  EXPECT_EQ(host.Sent.back(), "Sra");
  EXPECT_FALSE(TimerArmed());

  Reply("Mr\r\n");
  Reply("Mr\r\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.Sent.size() == 3; }, 5000));
  QTest::qWait(3 * TTransfer::kTickMs);
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sra", "Srb"})) << "two lines in one interval give a single tick";
}

namespace {
// A transfer with an answer timeout and a retry limit, and the reasons it gave up with.
class TransferLimits : public Transfer {
 protected:
  TransferLimits() {
    QObject::connect(&transfer, &TTransfer::Abandoned, [this](const std::string& reason) { reasons.push_back(reason); });
    host.Table = TDatabaseTable::Parse("a\nb\nc\n");
  }
  std::vector<std::string> reasons;
};
}  // namespace

TEST_F(TransferLimits, ASilentScaleEndsTheTransferNamingTheWaitingCommand) {
  const struct {
    int AnswersBeforeSilence;
    const char* Reason;
  } cases[] = {
      {0, "The scale did not answer within 0.03 s (start command)."},
      {2, "The scale did not answer within 0.03 s (record 2 of 3)."},
      {4, "The scale did not answer within 0.03 s (end command)."},
  };
  const char* answers[] = {"MbP", "Mr", "Mr", "Mr"};
  for (const auto& c : cases) {
    host = TFakeTransferHost();
    host.Table = TDatabaseTable::Parse("a\nb\nc\n");
    reasons.clear();
    transfer.SetAnswerTimeoutMs(30);
    transfer.Start();
    for (int i = 0; i < c.AnswersBeforeSilence; ++i) Answer(answers[i]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reasons.empty(); }, 5000)) << c.Reason;
    EXPECT_EQ(reasons, Commands{c.Reason});
    EXPECT_EQ(host.Tag, 0);
    EXPECT_TRUE(transfer.TransferFailed);
    const size_t sent = host.Sent.size();
    Answer("Mr");
    Answer("Me");
    EXPECT_EQ(host.Sent.size(), sent) << "a transfer that gave up sends nothing more";
    EXPECT_TRUE(host.Results.empty()) << "and never reaches its end step";
  }
}

TEST_F(TransferLimits, AfterStopTheWatchdogIsOffAndTheTransferRunsOnAsBefore) {
  transfer.SetAnswerTimeoutMs(20);
  transfer.Start();
  transfer.Stop();
  QTest::qWait(100);
  EXPECT_TRUE(reasons.empty());
  Answer("MbP");
  EXPECT_EQ(host.Sent.back(), "Sra");
}

TEST_F(TransferLimits, ARefusedCommandEndsTheTransferAfterTheRetriesWithItsLastAnswer) {
  transfer.SetRecordRetries(2);
  transfer.Start();
  Answer("MbP");
  Answer("Er");
  Answer("Er");
  EXPECT_TRUE(reasons.empty());
  Answer("Er");
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sra", "Sra", "Sra"})) << "the record went out exactly three times";
  EXPECT_EQ(reasons, Commands{"The scale refused record 1 of 3 (last answer: \"Er\")."});
  EXPECT_EQ(host.Tag, 0);

  reasons.clear();
  transfer.Start();
  for (const char* wrong : {"MbU", "x", "E\x01\xFFr"}) Answer(wrong);
  EXPECT_EQ(reasons, Commands{"The scale refused the start command (last answer: \"E\\x01\\xFFr\")."});
  EXPECT_EQ(host.Sent.back(), "SbP") << "a wrong start answer is not answered by sending again";
}

TEST_F(TransferLimits, NoRetriesEndsTheTransferAtTheFirstWrongAnswerWithoutSendingAgain) {
  transfer.SetRecordRetries(0);
  transfer.Start();
  Answer("MbP");
  Answer("Er");
  EXPECT_EQ(host.Sent, (Commands{"SbP", "Sra"}));
  EXPECT_EQ(reasons, Commands{"The scale refused record 1 of 3 (last answer: \"Er\")."});
}

TEST_F(TransferLimits, AnAcknowledgementStartsTheCountOfWrongAnswersAfresh) {
  transfer.SetRecordRetries(1);
  transfer.Start();
  for (const char* line : {"MbP", "Er", "Mr", "Er", "Mr", "Er", "Mr", "Me"}) Answer(line);
  EXPECT_TRUE(reasons.empty());
  EXPECT_EQ(host.Results, Commands{"Success"});
}

TEST(QuotedAnswer, EscapesBytesOutsidePrintableAsciiAndCutsAtFortyCharacters) {
  EXPECT_EQ(QuotedAnswer("Er"), "Er");
  EXPECT_EQ(QuotedAnswer(""), "");
  EXPECT_EQ(QuotedAnswer("a\tb\x7F\xB3"), "a\\x09b\\x7F\\xB3");
  EXPECT_EQ(QuotedAnswer(std::string(40, 'x')), std::string(40, 'x'));
  EXPECT_EQ(QuotedAnswer(std::string(41, 'x')), std::string(40, 'x') + "\u2026");
  EXPECT_EQ(QuotedAnswer(std::string(38, 'x') + "\x01"), std::string(38, 'x') + "\u2026")
      << "an escape that does not fit is not cut in half";
}

// The window's device type and database kind, --kind and the history all name a kind from one table.
TEST(DatabaseKinds, TheDeviceTypeNamesEachPositionAndEachNameFindsItsPositionAgain) {
  const struct {
    int DeviceType;
    int Position;
    const char* Name;
  } names[] = {{0, 0, "products"}, {0, 1, "users"}, {1, 0, "labels"}, {1, 1, "users"}, {1, 2, "statuses"}};
  for (const auto& expected : names) {
    const TDatabaseKind* kind = DatabaseKindAt(expected.Position, expected.DeviceType);
    ASSERT_NE(kind, nullptr) << expected.Name;
    EXPECT_EQ(kind->Name, expected.Name);
    ASSERT_NE(DatabaseKindNamed(expected.Name), nullptr) << expected.Name;
    EXPECT_EQ(DatabaseKindNamed(expected.Name)->Position, expected.Position) << expected.Name;
  }
  EXPECT_EQ(DatabaseKindAt(3, 1), nullptr);
  EXPECT_EQ(DatabaseKindNamed("Products"), nullptr) << "names are written in lower case";
  EXPECT_EQ(DatabaseKindNames(), "products, labels, users, statuses");
}
