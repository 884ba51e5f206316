#include "UDPServer.h"

#include "QueuedCall.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <poll.h>

namespace {
int32_t DecimalPart(std::string_view part) {
  int32_t value = 0;
  const char* last = part.data() + part.size();
  const auto [end, error] = std::from_chars(part.data(), last, value);
  if (part.empty() || error != std::errc() || end != last)
    throw EConvertError("'" + std::string(part) + "' is not a valid integer value");
  return value;
}
}  // namespace

EUDPSocketError::EUDPSocketError(int error)
    : EUDPException("Socket error # " + std::to_string(error) + ": " + SocketLayer::ErrorText(error)),
      ErrorCode(error) {}

uint32_t DottedAddressToIPv4(const std::string& text) {
  const std::string_view rest(text);
  uint32_t address = 0;
  size_t start = 0;
  for (int index = 0; index < 4; ++index) {
    const size_t dot = rest.find('.', start);
    const size_t end = dot == std::string_view::npos ? rest.size() : dot;
    address = (address << 8) | (static_cast<uint32_t>(DecimalPart(rest.substr(start, end - start))) & 0xFFu);
    start = dot == std::string_view::npos ? rest.size() : dot + 1;
  }
  return address;
}

uint32_t DottedAddressOrZero(const std::string& text) {
  try {
    return DottedAddressToIPv4(text);
  } catch (const EConvertError&) {
    return 0;
  }
}

std::string NotOneScaleReason(uint32_t address, const std::vector<uint32_t>& broadcastAddresses) {
  const std::string text = SocketLayer::DottedText(address);
  if (address == 0) return "0.0.0.0 is the address of no scale; name the scale's own address.";
  if ((address >> 28) == 0xE) return text + " is a multicast address; name one scale's own address.";
  const bool broadcast = address == 0xFFFFFFFFu ||
                         std::find(broadcastAddresses.begin(), broadcastAddresses.end(), address) != broadcastAddresses.end();
  if (broadcast) return text + " is a broadcast address; name one scale's own address.";
  return {};
}

std::string NotOneScaleReason(const std::string& host) {
  try {
    return NotOneScaleReason(DottedAddressToIPv4(host), SocketLayer::InterfaceBroadcastAddresses());
  } catch (const EConvertError&) {
    return {};
  }
}

TSocketHandle::~TSocketHandle() { CloseSocket(); }

void TSocketHandle::AllocateSocket() {
  CloseSocket();
  handle_ = SocketLayer::CreateUdpSocket();
  if (handle_ == SocketLayer::kNoSocket) throw EInvalidSocket();
}

void TSocketHandle::Bind() {
  const int error = SocketLayer::Bind(handle_, {0, static_cast<uint16_t>(Port)});
  if (error == EADDRINUSE) throw ECouldNotBindSocket();
  if (error != 0) throw EUDPSocketError(error);
  if (Port == 0) Port = SocketLayer::LocalPort(handle_);
}

void TSocketHandle::SetBroadcast(bool enabled) {
  const int error = SocketLayer::SetBroadcast(handle_, enabled);
  if (error != 0) throw EUDPSocketError(error);
}

void TSocketHandle::CloseSocket() {
  if (!HandleAllocated()) return;
  SocketLayer::ShutdownSend(handle_);
  SocketLayer::Close(handle_);
  handle_ = SocketLayer::kNoSocket;
}

void TSocketHandle::SendDatagram(const std::string& address, int port, const char* data, size_t count) {
  const uint32_t destination = DottedAddressToIPv4(address);
  // A port the 16-bit field cannot hold would reach some other port once truncated.
  if (!SocketLayer::IsValidPort(port))
    throw EUDPSocketError(EINVAL, "Port " + std::to_string(port) + " is outside 1 to 65535.");
  const ptrdiff_t sent = SocketLayer::SendTo(handle_, data, count, {destination, static_cast<uint16_t>(port)});
  if (sent < 0 && errno == EMSGSIZE) throw EPackageSizeTooBig();
  if (sent < 0) throw EUDPSocketError(errno);
  if (static_cast<size_t>(sent) < count) throw ENotAllBytesSent();
}

TSocketHandle& TSocketHandles::Add() {
  items_.push_back(std::make_unique<TSocketHandle>(defaultPort_));
  return *items_.back();
}

TUDPListenerThread::TUDPListenerThread(TUDPServer& server, size_t receiveSize, std::vector<TSocketHandle*> bindings)
    : server_(server), receiveSize_(receiveSize), bindings_(std::move(bindings)), buffer_(receiveSize) {}

TUDPListenerThread::~TUDPListenerThread() {
  Stop();
  WaitFor();
}

void TUDPListenerThread::Start() {
  stopped_ = false;
  thread_ = std::thread([this] { Run(); });
}

void TUDPListenerThread::Stop() {
  stopped_ = true;
  wake_.Signal();
}

void TUDPListenerThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TUDPListenerThread::Run() {
  while (!stopped_) Pass();
}

void TUDPListenerThread::Pass() {
  std::vector<pollfd> waits;
  for (const TSocketHandle* binding : bindings_) waits.push_back({binding->Handle(), POLLIN, 0});
  waits.push_back({wake_.Handle(), POLLIN, 0});
  if (poll(waits.data(), waits.size(), kWaitTimeMs) <= 0) return;
  for (size_t index = 0; index < bindings_.size(); ++index) {
    if (stopped_) return;
    if (waits[index].revents == 0) continue;
    try {
      ReceiveOn(*bindings_[index]);
    } catch (const std::exception& error) {
      server_.ReadFailed(error);
    }
  }
}

void TUDPListenerThread::ReceiveOn(TSocketHandle& binding) {
  SocketLayer::TIPv4Endpoint sender;
  const ptrdiff_t received = SocketLayer::ReceiveFrom(binding.Handle(), buffer_.data(), receiveSize_, sender);
  // A failed receive, or a datagram longer than the receive size, is dropped.
  if (received < 0 || static_cast<size_t>(received) > receiveSize_) return;
  server_.HandOver(binding, {SocketLayer::DottedText(sender.Address), sender.Port},
                   std::string_view(buffer_.data(), static_cast<size_t>(received)));
}

TUDPServer::~TUDPServer() {
  SetActive(false);
  Bindings.Clear();
}

bool TUDPServer::Active() const {
  const TSocketHandle* binding = current_.load();
  return binding && binding->HandleAllocated();
}

void TUDPServer::SetActive(bool value) {
  if (value == Active()) return;
  if (value)
    Activate();
  else
    Deactivate();
}

void TUDPServer::Activate() {
  if (Bindings.Count() == 0) Bindings.Add();
  std::vector<TSocketHandle*> bindings;
  for (size_t index = 0; index < Bindings.Count(); ++index) {
    Bindings[index].AllocateSocket();
    Bindings[index].Bind();
    bindings.push_back(&Bindings[index]);
  }
  current_ = bindings.front();
  activation_ = std::make_shared<int>(0);
  listenerActivation_ = activation_;
  listener_ = std::make_unique<TUDPListenerThread>(*this, static_cast<size_t>(BufferSize), bindings);
  listener_->Start();
  for (TSocketHandle* binding : bindings) binding->SetBroadcast(BroadcastEnabled);
}

void TUDPServer::Deactivate() {
  // The listener ends before the sockets close, so it never waits on a closed handle.
  listener_.reset();
  for (size_t index = 0; index < Bindings.Count(); ++index) Bindings[index].CloseSocket();
  current_ = nullptr;
  activation_.reset();
}

void TUDPServer::HandOver(TSocketHandle& binding, TPeer peer, std::string_view data) {
  if (ThreadedEvent) {
    ReadStep(binding, peer, data);
    return;
  }
  // The sender goes with its datagram: the listener receives the next one meanwhile.
  QueueCall(QCoreApplication::instance(),
            [this, &binding, activation = listenerActivation_, peer = std::move(peer), copy = std::string(data)] {
              if (!activation.expired()) ReadStep(binding, peer, copy);
            });
}

// The binding names the datagram's sender to the handler that runs now.
void TUDPServer::ReadStep(TSocketHandle& binding, const TPeer& peer, std::string_view data) {
  binding.PeerIP = peer.IP;
  binding.PeerPort = peer.Port;
  current_ = &binding;
  if (OnUDPRead) OnUDPRead(*this, data, binding);
}

void TUDPServer::ReadFailed(const std::exception& error) {
  if (OnReadFailure) OnReadFailure(*this, error);
}
