// Received text in random pieces against a plain model of the acknowledgement table: the cursor
// moves only on the acknowledgement due while its command waits for it, the buffer never keeps a
// line feed between calls and never grows past its cap. The pace tick a line arms runs at once,
// so the next command goes out as it would at the scale's rhythm.
//
// Input: a first byte choosing the database kind (low two bits), then pieces, each one byte of
// flags (high bit: repeat the piece 600 times, to pass the cap) and one byte of length.

#include "Transfer.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
constexpr int kRows = 3;
constexpr int kRepeats = 600;

class TQuietHost : public ITransferHost {
 public:
  explicit TQuietHost(int position) : position_(position) {}
  int RowCount() const override { return kRows; }
  std::string RowText(int row) const override { return std::to_string(row) + ";x"; }
  int DatabaseKindPosition() const override { return position_; }
  void ShowStoppable(bool) override {}
  void SendOrder(const std::string&) override {}

 private:
  int position_;
};

std::string_view Stripped(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// The acknowledgement of the start, of the end, and of every record in between.
std::string_view Acknowledgement(int cursor, int position) {
  static const char* const kStartAnswers[] = {"MbP", "MbU", "MbS", nullptr};
  if (cursor == 0) return kStartAnswers[position] ? kStartAnswers[position] : "\n";
  if (cursor == -1) return "Me";
  return "Mr";
}

int Advanced(int cursor) {
  if (cursor == -1) return -2;
  return cursor >= 0 ? cursor + 1 : cursor;
}

QCoreApplication& Application() {
  static int argc = 1;
  static char name[] = "reply_fuzz";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);
  return application;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Application();
  if (size == 0) return 0;
  const int position = data[0] & 3;
  TQuietHost host(position);
  TTransfer transfer(host);
  transfer.Start();

  int cursor = transfer.TransferCursor;
  // The start command waits for its answer where the position names a kind.
  bool waiting = Acknowledgement(0, position) != "\n";
  std::string modelBuffer;
  size_t at = 1;
  while (at + 2 <= size) {
    const bool repeat = data[at] & 0x80;
    const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
    const std::string_view bytes(reinterpret_cast<const char*>(data + at + 2), length);
    at += 2 + length;
    std::string piece;
    for (int i = 0; i < (repeat ? kRepeats : 1); ++i) piece += bytes;

    transfer.HandleReply(piece, static_cast<int>(piece.size()));
    modelBuffer += piece;
    if (piece.find('\n') != std::string::npos) {
      if (waiting && Stripped(modelBuffer) == Acknowledgement(cursor, position)) {
        cursor = Advanced(cursor);
        waiting = false;
      }
      modelBuffer.clear();
    } else if (modelBuffer.size() > kReplyBufferCap) {
      modelBuffer.erase(0, modelBuffer.size() - kReplyBufferCap);
    }

    if (transfer.TransferCursor != cursor) std::abort();
    if (transfer.ReplyBuffer.find('\n') != std::string::npos) std::abort();
    if (transfer.ReplyBuffer.size() > kReplyBufferCap) std::abort();
    if (transfer.ReplyBuffer != modelBuffer) std::abort();

    // The tick sends the record due (again after a wrong answer) or, after the last, the end.
    if (!transfer.PaceTimer.isActive()) continue;
    transfer.PaceTick();
    if (cursor >= 1 && cursor <= kRows) {
      waiting = true;
    } else if (cursor == kRows + 1) {
      cursor = -1;
      waiting = true;
    }
  }
  return 0;
}
