#include "FakeTransferHost.h"

#include <chrono>
#include <thread>

namespace {
class ReplyAssembly : public TransferFixture {
 protected:
  // A fresh transfer whose start command waits for its answer.
  void StartDue() {
    host.Tag = 0;
    transfer.Start();
  }
  // A fresh transfer of three rows whose record 1 waits for its answer; the timer is idle.
  void RowDue() {
    host.Table = TDatabaseTable::Parse("a\nb\nc\n");
    StartDue();
    Answer("MbP");
  }
  // Record 1 of one row acknowledged: the end command waits for its answer.
  void EndDue() {
    host.Table = TDatabaseTable::Parse("a\n");
    StartDue();
    Answer("MbP");
    Answer("Mr");
  }
};
}  // namespace

TEST_F(ReplyAssembly, PiecesCompleteOneLineOnlyWithTheLineFeed) {
  RowDue();
  Reply("M");
  Reply("r");
  EXPECT_EQ(Cursor(), 1);
  EXPECT_FALSE(TimerArmed());
  EXPECT_EQ(ReplyBuffer, "Mr");
  Reply("\r\n");
  EXPECT_EQ(Cursor(), 2);
  EXPECT_TRUE(TimerArmed());
  EXPECT_EQ(ReplyBuffer, "");
}

TEST_F(ReplyAssembly, BlanksAndControlCharactersAroundTheLineAreIgnored) {
  for (const std::string& piece : {std::string("  Mr\r\n"), std::string("\t\x01Mr \n"), std::string("Mr\n"),
                                   std::string("\0\0Mr\0\r\n", 7)}) {
    RowDue();
    Reply(piece);
    EXPECT_EQ(Cursor(), 2) << "piece of " << piece.size() << " bytes";
  }
}

TEST_F(ReplyAssembly, OtherCaseOrExtraCharactersDoNotMatchButStillArmTheTimer) {
  for (const std::string line : {"mr", "MR", "Mr.", "M r", "Mrr", "xMr", ""}) {
    RowDue();
    transfer.PaceTimer.stop();
    Reply(line + "\r\n");
    EXPECT_EQ(Cursor(), 1) << line;
    EXPECT_TRUE(TimerArmed()) << line;
  }
}

TEST_F(ReplyAssembly, EverythingBufferedAtTheLineFeedIsComparedAsOneText) {
  RowDue();
  Reply("Mr\r\nMr\r\n");
  EXPECT_EQ(Cursor(), 1);
  EXPECT_EQ(ReplyBuffer, "");

  Reply("Mr\r\nM");
  Reply("r\r\n");
  EXPECT_EQ(Cursor(), 1) << "the start of a line in the same piece as the line feed is lost";
}

TEST_F(ReplyAssembly, CarriageReturnAloneDoesNotCompleteALine) {
  RowDue();
  Reply("Mr\r");
  EXPECT_FALSE(TimerArmed());
  EXPECT_EQ(Cursor(), 1);
  Reply("\n");
  EXPECT_EQ(Cursor(), 2);

  Reply("Mr\rMr\n");
  EXPECT_EQ(Cursor(), 2) << "a carriage return inside the line is kept";
}

TEST_F(ReplyAssembly, APartialLineLeftOverIsPrefixedToTheNextAcknowledgement) {
  Reply("garbage");
  host.Tag = 0;
  transfer.Start();
  EXPECT_EQ(ReplyBuffer, "garbage") << "starting a transfer keeps the buffer";
  Reply("MbP\r\n");
  EXPECT_EQ(Cursor(), 0);
  Reply("MbP\r\n");
  EXPECT_EQ(Cursor(), 1);
}

TEST_F(ReplyAssembly, StartAcknowledgementFollowsTheSelectedPosition) {
  const char* acks[] = {"MbP", "MbU", "MbS"};
  for (int position = 0; position < 3; ++position) {
    host.Position = position;
    for (int other = 0; other < 3; ++other) {
      StartDue();
      Reply(std::string(acks[other]) + "\r\n");
      EXPECT_EQ(Cursor(), other == position ? 1 : 0) << "position " << position << ", line " << acks[other];
    }
  }
}

TEST_F(ReplyAssembly, PositionWithoutADatabaseKindAcceptsNoStartLine) {
  host.Position = -1;
  for (const std::string line : {"", "Mb", "MbP", "Mr"}) {
    Reply(line + "\r\n");
    EXPECT_EQ(Cursor(), 0) << '"' << line << '"';
  }
}

TEST_F(ReplyAssembly, EndSentExpectsMeOnly) {
  EndDue();
  ASSERT_EQ(Cursor(), -1);
  Reply("Mr\r\n");
  EXPECT_EQ(Cursor(), -1);
  Reply("MbP\r\n");
  EXPECT_EQ(Cursor(), -1);
  Reply("Me\r\n");
  EXPECT_EQ(Cursor(), -2);
}

TEST_F(ReplyAssembly, AfterTheEndAMatchChangesNothingButArmsTheTimer) {
  transfer.TransferCursor = -2;
  for (const std::string line : {"Mr", "Me"}) {
    transfer.PaceTimer.stop();
    Reply(line + "\n");
    EXPECT_EQ(Cursor(), -2) << line;
    EXPECT_TRUE(TimerArmed()) << line;
  }
}

TEST_F(ReplyAssembly, AnyCompletedLineArmsTheTimerAlsoWithNoTransferRunning) {
  Reply("hello\n");
  EXPECT_TRUE(TimerArmed());
  EXPECT_EQ(Cursor(), 0);
}

TEST_F(ReplyAssembly, ALineCompletedWhileTheTimerRunsDoesNotRestartIt) {
  RowDue();
  Reply("Mr\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  Reply("Mr\r\n");
  EXPECT_TRUE(TimerArmed());
  EXPECT_LE(transfer.PaceTimer.remainingTime(), TTransfer::kTickMs - 30);
  EXPECT_EQ(Cursor(), 2) << "the second line came while no command waited";
}

TEST_F(ReplyAssembly, AnEndlessLineIsCappedAndALaterLineStillCompletes) {
  RowDue();
  const std::string blanks(kReplyBufferCap / 2, ' ');
  for (int i = 0; i < 5; ++i) Reply(blanks);
  EXPECT_EQ(ReplyBuffer.size(), kReplyBufferCap);
  Reply("Mr\r\n");
  EXPECT_EQ(Cursor(), 2);
  EXPECT_EQ(ReplyBuffer, "");
}

TEST_F(ReplyAssembly, TheCapDropsTheOldestBytes) {
  Reply(std::string(kReplyBufferCap, 'x'));
  Reply("tail");
  EXPECT_EQ(ReplyBuffer.size(), kReplyBufferCap);
  EXPECT_EQ(ReplyBuffer.substr(kReplyBufferCap - 5), "xtail");
}
