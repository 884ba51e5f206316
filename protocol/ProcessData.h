#pragma once
// Assembly of received text into lines, from every link.

#include <string>

class TTransfer;

// Received text since the last completed line.
extern std::string ReplyBuffer;

// The single entry for received text; `length` is not used, the text carries its own.
void HandleReply(const std::string& text, int length);

// The transfer whose acknowledgements HandleReply matches (the main window's).
void SetReplyTarget(TTransfer* transfer);
