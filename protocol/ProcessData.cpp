#include "ProcessData.h"

#include "Transfer.h"

std::string ReplyBuffer;

namespace {
TTransfer* replyTarget = nullptr;
}

void SetReplyTarget(TTransfer* transfer) { replyTarget = transfer; }

void HandleReply(const std::string&, int) {}
