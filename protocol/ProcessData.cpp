#include "ProcessData.h"

#include "Transfer.h"

#include <string_view>

std::string ReplyBuffer;

namespace {
TTransfer* replyTarget = nullptr;

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view StripBlanksAndControls(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

void DropOldestPastCap() {
  if (ReplyBuffer.size() > kReplyBufferCap) ReplyBuffer.erase(0, ReplyBuffer.size() - kReplyBufferCap);
}
}  // namespace

void SetReplyTarget(TTransfer* transfer) { replyTarget = transfer; }

void HandleReply(const std::string& text, int) {
  ReplyBuffer += text;
  // The buffer holds no line feed between calls, so only the new piece can complete a line.
  if (text.find('\n') == std::string::npos) {
    DropOldestPastCap();
    return;
  }
  // Emptied before the transfer sees the line, so nothing it triggers can see a stale buffer.
  const std::string line(StripBlanksAndControls(ReplyBuffer));
  ReplyBuffer.clear();
  if (replyTarget) replyTarget->LineCompleted(line);
}
