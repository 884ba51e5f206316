#pragma once
// Assembly of received text into lines, from every link.

#include <cstddef>
#include <string>

class TTransfer;

// Received text since the last completed line.
extern std::string ReplyBuffer;

// Past this many bytes without a line feed the oldest are dropped, so a peer that never ends
// its line cannot grow the buffer without end.
constexpr size_t kReplyBufferCap = 64 * 1024;

// The single entry for received text; `length` is not used, the text carries its own.
void HandleReply(const std::string& text, int length);

// The transfer whose acknowledgements HandleReply matches (the main window's).
void SetReplyTarget(TTransfer* transfer);
