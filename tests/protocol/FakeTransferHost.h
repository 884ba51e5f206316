#pragma once
// A main window stand-in that records what the transfer sends and shows.

#include "DatabaseTable.h"
#include "Transfer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

class TFakeTransferHost : public ITransferHost {
 public:
  int RowCount() const override { return Table.RowCount(); }
  std::string RowText(int row) const override { return Table.RowText(row); }
  int DatabaseKindPosition() const override { return Position; }
  void SendOrder(const std::string& command) override {
    if (FailSending) throw std::runtime_error("link gone");
    Sent.push_back(command);
  }
  void ShowStoppable(bool stoppable) override { Tag = stoppable ? 1 : 0; }

  TDatabaseTable Table;
  int Position = 0;
  int Tag = 0;
  bool FailSending = false;
  std::vector<std::string> Sent;
  std::vector<std::string> Results;
};

// A transfer driven by hand: replies go in, ticks are run directly.
class TransferFixture : public ::testing::Test {
 protected:
  TransferFixture() {
    QObject::connect(&transfer, &TTransfer::Finished,
                     [this](bool failed) { host.Results.push_back(failed ? "Failure" : "Success"); });
  }

  void Reply(const std::string& text) { transfer.HandleReply(text, static_cast<int>(text.size())); }
  void Tick() { transfer.PaceTick(); }
  // The scale answers with a framed line, and the tick that it arms runs.
  void Answer(const std::string& line) {
    Reply(line + "\r\n");
    Tick();
  }
  int Cursor() const { return transfer.TransferCursor; }
  bool TimerArmed() const { return transfer.PaceTimer.isActive(); }

  TFakeTransferHost host;
  TTransfer transfer{host};
  std::string& ReplyBuffer = transfer.ReplyBuffer;
};
