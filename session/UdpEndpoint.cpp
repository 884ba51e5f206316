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

uint32_t AddressOf(const std::string& host) {
  try {
    return DottedAddressToIPv4(host);
  } catch (const EConvertError&) {
    return 0;
  }
}
}  // namespace

size_t ScaleOfSender(const std::vector<TUdpPeer4>& scales, const TUdpPeer4& sender) {
  if (scales.size() == 1) return 0;
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

std::string TUdpEndpoint::Open() {
  if (IsOpen()) return {};
  server_ = std::make_unique<TUDPServer>();
  server_->BufferSize = CEthConnection::kUdpDatagramLimit;
  server_->DefaultPort = localPort_;
  server_->Bindings.Add();
  server_->ThreadedEvent = true;
  server_->OnUDPRead = [this](TUDPServer&, std::string_view data, TSocketHandle& binding) {
    const std::string text = ReplyText(data);
    if (text.empty()) return;
    const uint32_t address = AddressOf(binding.PeerIP);
    const int port = binding.PeerPort;
    QueueCall(this, [this, address, port, text] { Deliver(address, port, text); });
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

void TUdpEndpoint::Send(const std::string& host, int32_t port, const std::string& bytes) {
  if (!IsOpen()) return;
  try {
    server_->Binding()->SendDatagram(host, port, bytes.data(), bytes.size());
  } catch (...) {
  }
}

void TUdpEndpoint::Attach(TSharedUdpLink& link) { links_.push_back(&link); }

void TUdpEndpoint::Detach(TSharedUdpLink& link) { std::erase(links_, &link); }

void TUdpEndpoint::Deliver(uint32_t senderAddress, int senderPort, const std::string& text) {
  std::vector<TUdpPeer4> scales;
  for (const TSharedUdpLink* link : links_) scales.push_back({link->address_, link->port_});
  const size_t scale = ScaleOfSender(scales, {senderAddress, senderPort});
  if (scale != kNoScale && links_[scale]->open_) emit links_[scale]->TextReceived(text);
}

TSharedUdpLink::TSharedUdpLink(const std::string& host, int32_t port, std::shared_ptr<TUdpEndpoint> endpoint,
                               QObject* parent)
    : TLink(parent), host_(host), port_(port), address_(AddressOf(host)), endpoint_(std::move(endpoint)) {
  endpoint_->Attach(*this);
}

TSharedUdpLink::~TSharedUdpLink() { endpoint_->Detach(*this); }

void TSharedUdpLink::Open() {
  if (open_) return;
  const std::string failure = endpoint_->Open();
  if (!failure.empty()) {
    emit Failed(failure);
    return;
  }
  open_ = true;
  endpoint_->Send(host_, port_, std::string(1, '\0'));
  emit StateChanged(2);
}

void TSharedUdpLink::Close() {
  open_ = false;
  emit StateChanged(0);
}

void TSharedUdpLink::Send(const std::string& command) {
  if (open_) endpoint_->Send(host_, port_, WireBytes(TLinkSettings::TKind::Udp, command));
}

std::string TSharedUdpLink::Name() const {
  TLinkSettings settings;
  settings.Kind = TLinkSettings::TKind::Udp;
  settings.Host = host_;
  settings.Port = port_;
  return LinkName(settings);
}
