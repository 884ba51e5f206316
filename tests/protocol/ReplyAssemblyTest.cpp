#include "FakeTransferHost.h"

#include <chrono>
#include <thread>

namespace {
using ReplyAssembly = TransferFixture;

// Puts the transfer into the state "row 1 due" without sending anything.
void RowDue(TTransfer& transfer) { transfer.TransferCursor = 1; }
}  // namespace

TEST_F(ReplyAssembly, PiecesCompleteOneLineOnlyWithTheLineFeed) {
  RowDue(transfer);
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
    RowDue(transfer);
    Reply(piece);
    EXPECT_EQ(Cursor(), 2) << "piece of " << piece.size() << " bytes";
  }
}

TEST_F(ReplyAssembly, OtherCaseOrExtraCharactersDoNotMatchButStillArmTheTimer) {
  for (const std::string line : {"mr", "MR", "Mr.", "M r", "Mrr", "xMr", ""}) {
    RowDue(transfer);
    transfer.TimerBaza.stop();
    Reply(line + "\r\n");
    EXPECT_EQ(Cursor(), 1) << line;
    EXPECT_TRUE(TimerArmed()) << line;
  }
}

TEST_F(ReplyAssembly, EverythingBufferedAtTheLineFeedIsComparedAsOneText) {
  RowDue(transfer);
  Reply("Mr\r\nMr\r\n");
  EXPECT_EQ(Cursor(), 1);
  EXPECT_EQ(ReplyBuffer, "");

  Reply("Mr\r\nM");
  Reply("r\r\n");
  EXPECT_EQ(Cursor(), 1) << "the start of a line in the same piece as the line feed is lost";
}

TEST_F(ReplyAssembly, CarriageReturnAloneDoesNotCompleteALine) {
  RowDue(transfer);
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
  transfer.bbWyslijBazeClick();
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
      transfer.TransferCursor = 0;
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
  transfer.TransferCursor = -1;
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
    transfer.TimerBaza.stop();
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
  RowDue(transfer);
  Reply("Mr\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  Reply("Mr\r\n");
  EXPECT_TRUE(TimerArmed());
  EXPECT_LE(transfer.TimerBaza.remainingTime(), TTransfer::kTickMs - 30);
  EXPECT_EQ(Cursor(), 3);
}

TEST_F(ReplyAssembly, AnEndlessLineIsCappedAndALaterLineStillCompletes) {
  RowDue(transfer);
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
