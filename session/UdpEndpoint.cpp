#include "UdpEndpoint.h"

#include "QueuedCall.h"
#include "UDPServer.h"

#include <algorithm>

namespace {
// A reply is cut at its first zero byte and at 100 bytes, as the window's connection cuts it.
std::string ReplyText(std::string_view datagram) {
  datagram = datagram.substr(0, CEthConnection::kUdpReceiveBufferSize - 1);
  return std::string(datagram.substr(0, datagram.find('\0')));
}
}  // namespace

size_t ScaleOfSender(const std::vector<TUdpPeer4>& scales, const TUdpPeer4& sender) {
  if (sender.Address == 0) return kNoScale;
  size_t sameAddress = kNoScale;
  int sameAddressCount = 0;
  for (size_t scale = 0; scale < scales.size(); ++scale) {
    if (scales[scale].Address != sender.Address) continue;
    if (scales[scale].Port == sender.Port) return scale;
    sameAddress = scale;
    ++sameAddressCount;
  }
  return sameAddressCount == 1 ? sameAddress : kNoScale;
}

TUdpEndpoint::TUdpEndpoint(int localPort) : localPort_(localPort) {}

// The listener ends with the server, before queued replies lose their receiver with this object.
TUdpEndpoint::~TUdpEndpoint() { server_.reset(); }

bool TUdpEndpoint::IsOpen() const { return server_ && server_->Active(); }

void TUdpEndpoint::Close() { server_.reset(); }

std::string TUdpEndpoint::Open() {
  if (IsOpen()) return {};
  server_ = std::make_unique<TUDPServer>();
  server_->BufferSize = CEthConnection::kUdpDatagramLimit;
  server_->DefaultPort = localPort_;
  server_->Bindings.Add();
  server_->ThreadedEvent = true;
  server_->OnUDPRead = [this](TUDPServer&, std::string_view data, TSocketHandle& binding) {
    const std::string text = ReplyText(data);
    const uint32_t address = DottedAddressOrZero(binding.PeerIP);
    const int port = binding.PeerPort;
    QueueCall(this, [this, address, port, text] { Deliver(address, port, text); });
  };
  server_->OnReadFailure = [this](TUDPServer&, const std::exception& error) {
    const std::string reason = AnswerFailureText(error);
    QueueCall(this, [this, reason] { LoseEveryOpenLink(reason); });
  };
  std::string failure;
  try {
    server_->SetActive(true);
  } catch (...) {
    failure = UdpOpenFailureText(std::current_exception(), localPort_);
  }
  if (failure.empty() && IsOpen()) return {};
  server_.reset();
  return failure.empty() ? "The UDP connection cannot be opened: unknown error." : failure;
}

std::string TUdpEndpoint::Send(const std::string& what, const std::string& host, int32_t port,
                               const std::string& bytes) {
  if (!IsOpen()) return {};
  try {
    server_->Binding()->SendDatagram(host, port, bytes.data(), bytes.size());
  } catch (const EUDPException& error) {
    return SendFailureText(what, host, port, error);
  } catch (const EConvertError& error) {
    return SendFailureText(what, host, port, error);
  }
  return {};
}

// An answer the endpoint could not take in may have been any link's.
void TUdpEndpoint::LoseEveryOpenLink(const std::string& reason) {
  for (TSharedUdpLink* link : links_)
    if (link->open_) emit link->Lost(reason);
}

void TUdpEndpoint::Attach(TSharedUdpLink& link) { links_.push_back(&link); }

void TUdpEndpoint::Detach(TSharedUdpLink& link) { std::erase(links_, &link); }

void TUdpEndpoint::Deliver(uint32_t senderAddress, int senderPort, const std::string& text) {
  std::vector<TUdpPeer4> scales;
  for (const TSharedUdpLink* link : links_) scales.push_back({link->address_, link->port_});
  const size_t scale = ScaleOfSender(scales, {senderAddress, senderPort});
  if (scale == kNoScale) {
    ++ignoredDatagrams_;
    for (TSharedUdpLink* link : links_)
      if (link->open_) emit link->DatagramIgnored();
    return;
  }
  if (links_[scale]->open_ && !text.empty()) emit links_[scale]->TextReceived(text);
}

TSharedUdpLink::TSharedUdpLink(const std::string& host, int32_t port, std::shared_ptr<TUdpEndpoint> endpoint,
                               QObject* parent)
    : TLink(parent), host_(host), port_(port), address_(DottedAddressOrZero(host)), endpoint_(std::move(endpoint)) {
  endpoint_->Attach(*this);
}

TSharedUdpLink::~TSharedUdpLink() { endpoint_->Detach(*this); }

void TSharedUdpLink::Open() {
  if (open_) return;
  if (const std::string refusal = NotOneScaleReason(host_); !refusal.empty()) {
    emit Failed(refusal);
    return;
  }
  const std::string failure = endpoint_->Open();
  if (!failure.empty()) {
    emit Failed(failure);
    return;
  }
  open_ = true;
  // Open even so: the start command fails the same way, and the transfer with it.
  if (std::string failure = endpoint_->Send("The opening datagram", host_, port_, std::string(1, '\0'));
      !failure.empty())
    LoseLater(failure);
  emit StateChanged(lsConnected);
}

void TSharedUdpLink::Close() {
  open_ = false;
  emit StateChanged(lsDisconnected);
}

void TSharedUdpLink::Send(const std::string& command) {
  if (!open_) return;
  if (std::string failure = endpoint_->Send("The command", host_, port_, WireBytes(TLinkSettings::TKind::Udp, command));
      !failure.empty())
    LoseLater(failure);
}

std::string TSharedUdpLink::Name() const {
  TLinkSettings settings;
  settings.Kind = TLinkSettings::TKind::Udp;
  settings.Host = host_;
  settings.Port = port_;
  return LinkName(settings);
}
