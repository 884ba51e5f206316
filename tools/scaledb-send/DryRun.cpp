#include "DryRun.h"

#include "DatabaseTable.h"
#include "Escape.h"
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
  LinkState State() const override { return lsConnected; }
  std::string Name() const override { return "dry-run"; }

 private:
  const std::function<void(const std::string&)>& take_;
};
}  // namespace

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
    engine.PaceTick();
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
                           [&](const std::string& command) { write(Escaped(WireBytes(kind, command), TEscape::C)); });
  }
}
