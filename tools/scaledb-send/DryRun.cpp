#include "DryRun.h"

#include "DatabaseTable.h"
#include "Link.h"
#include "Session.h"

#include <algorithm>

namespace {
// Keeps the commands and sends nothing.
class TRecordingLink : public TLink {
 public:
  explicit TRecordingLink(const std::function<void(const std::string&)>& take) : take_(take) {}
  void Open() override {}
  void Close() override {}
  void Send(const std::string& command) override { take_(command); }
  LinkState State() const override { return 2; }
  std::string Name() const override { return "dry-run"; }

 private:
  const std::function<void(const std::string&)>& take_;
};

bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }

std::string Octal(unsigned char byte) {
  return {'\\', static_cast<char>('0' + (byte >> 6)), static_cast<char>('0' + ((byte >> 3) & 7)),
          static_cast<char>('0' + (byte & 7))};
}
}  // namespace

std::string EscapedBytes(std::string_view bytes) {
  std::string escaped;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') escaped += "\\r";
    else if (c == '\n') escaped += "\\n";
    else if (c == '\t') escaped += "\\t";
    else if (c == '\\') escaped += "\\\\";
    // "\0" would read on into a following octal digit.
    else if (c == '\0' && (i + 1 == bytes.size() || !IsOctalDigit(bytes[i + 1]))) escaped += "\\0";
    else if (byte < 32 || byte > 126) escaped += Octal(byte);
    else escaped += c;
  }
  return escaped;
}

void ForEachTransferCommand(std::shared_ptr<const TDatabaseTable> table, int kindPosition,
                            const std::function<std::string(std::string)>& encode,
                            const std::function<void(const std::string& command)>& take) {
  TScaleSession session(std::make_unique<TRecordingLink>(take), std::move(table), kindPosition);
  if (encode) session.SetRowEncoder(encode);
  TTransfer& engine = session.Engine();
  session.Start();
  while (session.Running()) {
    const std::optional<std::string> answer = ExpectedReply(engine.TransferCursor, kindPosition);
    if (!answer) break;
    engine.LineCompleted(*answer);
    engine.TimerBazaTimer();
  }
}

void WriteDryRun(std::shared_ptr<const TDatabaseTable> table, int kindPosition,
                 const std::vector<TLinkSettings::TKind>& links, const std::function<std::string(std::string)>& encode,
                 const std::function<void(const std::string& line)>& write) {
  std::vector<bool> datagramFramings;
  for (const TLinkSettings::TKind kind : links) {
    const bool datagram = kind == TLinkSettings::TKind::Udp;
    if (std::find(datagramFramings.begin(), datagramFramings.end(), datagram) == datagramFramings.end())
      datagramFramings.push_back(datagram);
  }
  for (const bool datagram : datagramFramings) {
    const TLinkSettings::TKind kind = datagram ? TLinkSettings::TKind::Udp : TLinkSettings::TKind::Tcp;
    ForEachTransferCommand(table, kindPosition, encode,
                           [&](const std::string& command) { write(EscapedBytes(WireBytes(kind, command))); });
  }
}
