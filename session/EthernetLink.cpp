#include "EthernetLink.h"

#include "EthConnection.h"
#include "QueuedCall.h"

#include <QEvent>

namespace {
class TStateRelay : public QObject {
 public:
  explicit TStateRelay(TLink& link) : link_(link) {}

  bool event(QEvent* event) override {
    if (event->type() != static_cast<QEvent::Type>(WM_PORT_STATE)) return QObject::event(event);
    emit link_.StateChanged(static_cast<LinkState>(static_cast<const TPortStateEvent&>(*event).wParam));
    return true;
  }

 private:
  TLink& link_;
};
}  // namespace

std::string EthernetLinkName(const TConnectionSettings& settings) {
  TLinkSettings link;
  link.Kind = settings.Protocol == epUdp ? TLinkSettings::TKind::Udp : TLinkSettings::TKind::Tcp;
  link.Host = settings.Host;
  link.Port = settings.Port;
  return LinkName(link);
}

void SendTcpCommand(CEthConnection& connection, const std::string& command) {
  connection.SendTCP(WireBytes(TLinkSettings::TKind::Tcp, command));
}

void SendUdpCommand(CEthConnection& connection, const std::string& command) { connection.SendUDP(command); }

TEthernetLink::TEthernetLink(uint8_t protocol, const std::string& host, int32_t port, QObject* parent)
    : TLink(parent), settings_{1, host, protocol, port} {
  CreateConnection();
}

TEthernetLink::~TEthernetLink() = default;

void TEthernetLink::CreateConnection() {
  stateRelay_ = std::make_unique<TStateRelay>(*this);
  connection_ = std::make_unique<CEthConnection>(stateRelay_.get(), settings_);
  connection_->OnReply = [this](const std::string& text, int) { emit TextReceived(text); };
  connection_->OnOpenFailure = [this](const std::string& reason) { emit Failed(reason); };
  connection_->OnLinkFailure = [this](const std::string& reason) { emit Lost(reason); };
  // Told from inside a socket event: queued, so a receiver may close this link at once.
  connection_->OnTcpFailure = [this](const std::string& reason) {
    QueueCall(this, [this, reason] { emit Failed(reason); });
  };
}

void TEthernetLink::Open() {
  if (connection_->State == lsDisconnected) connection_->ToggleConnection(settings_.Protocol, settings_.Host, settings_.Port);
}

// A fresh connection object leaves nothing behind, not even an attempt still under way.
void TEthernetLink::Close() {
  connection_.reset();
  CreateConnection();
  emit StateChanged(lsDisconnected);
}

LinkState TEthernetLink::State() const { return connection_->State; }

std::string TEthernetLink::Name() const { return EthernetLinkName(settings_); }

TTcpLink::TTcpLink(const std::string& host, int32_t port, QObject* parent) : TEthernetLink(0, host, port, parent) {}

void TTcpLink::Send(const std::string& command) { SendTcpCommand(Connection(), command); }

TUdpLink::TUdpLink(const std::string& host, int32_t port, QObject* parent) : TEthernetLink(1, host, port, parent) {}

void TUdpLink::Send(const std::string& command) { SendUdpCommand(Connection(), command); }
