#include "ClientSocket.h"

#include "QueuedCall.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <netdb.h>
#include <strings.h>
#include <thread>

namespace {
// Stands in for the "no address" error number of the original socket library.
constexpr int kNoAddressError = 1110;
const char* const kActiveChange = "Can't change value while socket is active";

std::string SocketErrorText(const std::string& message, int error, const char* api) {
  char text[512];
  std::snprintf(text, sizeof text, "Windows socket error: %s (%d), on API '%s'", message.c_str(), error, api);
  return text;
}

std::string AsyncErrorText(int error) {
  char text[64];
  std::snprintf(text, sizeof text, "Asynchronous socket error %d", error);
  return text;
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

// Once the connection stops waiting for the lookup, the resolving thread hands nothing back and
// touches neither the connection nor the application.
struct TClientConnection::TPendingLookup {
  std::mutex Lock;
  bool Wanted = true;
};

TErrorEvent TClientConnection::ErrorEventOf(TNotification kind) {
  switch (kind) {
    case TNotification::Connect: return eeConnect;
    case TNotification::Close: return eeDisconnect;
    case TNotification::Read: return eeReceive;
  }
  return eeGeneral;
}

TClientConnection::TClientConnection(TClientSocket& owner) : owner_(&owner) {}

TClientConnection::~TClientConnection() {
  owner_ = nullptr;
  ReleaseQuietly();
}

void TClientConnection::Activate() {
  if (connected_) throw ESocketError("Socket already open");
  ReleaseQuietly();
  handle_ = SocketLayer::CreateTcpSocket();
  if (handle_ == SocketLayer::kNoSocket) throw ESocketError("Can't create new socket", errno);
  owner_->Fire(owner_->OnLookup);
  if (!owner_->Host().empty()) {
    StartLookup();
    return;
  }
  FailAndDisconnect(eeLookup, kNoAddressError, "No address specified");
}

void TClientConnection::StartLookup() {
  lookupPhase_ = TLookupPhase::Address;
  auto request = std::make_shared<TPendingLookup>();
  pendingLookup_ = request;
  // Not a pool thread: the application waits for its pools at exit, and a lookup can hang.
  std::thread([this, request, resolver = owner_->Resolver, host = owner_->Host()] {
    const SocketLayer::TLookupResult result = resolver(host);
    const std::lock_guard lock(request->Lock);
    if (!request->Wanted) return;
    const std::weak_ptr<TPendingLookup> token = request;
    QueueCall(QCoreApplication::instance(), [this, token, result] {
      // The request is dropped on the GUI thread when the lookup is cancelled or the
      // connection released, so a live request means `this` is still there.
      if (!token.expired()) LookupCompleted(result);
    });
  }).detach();
}

void TClientConnection::CancelLookup() {
  if (pendingLookup_) {
    const std::lock_guard lock(pendingLookup_->Lock);
    pendingLookup_->Wanted = false;
  }
  pendingLookup_.reset();
  lookupPhase_ = TLookupPhase::Idle;
}

void TClientConnection::LookupCompleted(const SocketLayer::TLookupResult& result) {
  CancelLookup();
  int error = result.ErrorCode;
  // A port the 16-bit field cannot hold fails like a name that cannot be found.
  if (error == 0 && !SocketLayer::IsValidPort(owner_->Port())) error = EAI_SERVICE;
  if (error != 0) {
    FailAndDisconnect(eeLookup, error, SocketErrorText(SocketLayer::LookupErrorText(error), error, "ASync Lookup"));
    return;
  }
  remote_ = {result.Address, static_cast<uint16_t>(owner_->Port())};
  Open();
}

void TClientConnection::Open() {
  WatchForConnect();
  owner_->Fire(owner_->OnConnecting);
  const int error = SocketLayer::StartConnect(handle_, remote_);
  lookupPhase_ = TLookupPhase::Idle;
  if (error == 0) return;
  // An at-once refusal is taken as the connect notification carrying that error.
  writeNotifier_.reset();
  Notify(TNotification::Connect, error);
}

void TClientConnection::WatchForConnect() {
  writeNotifier_ = std::make_unique<QSocketNotifier>(handle_, QSocketNotifier::Write);
  QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, writeNotifier_.get(), [this] { OnWritable(); });
}

void TClientConnection::WatchForRead() {
  readNotifier_ = std::make_unique<QSocketNotifier>(handle_, QSocketNotifier::Read);
  QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, readNotifier_.get(), [this] { OnReadable(); });
}

void TClientConnection::OnWritable() {
  writeNotifier_.reset();
  Notify(TNotification::Connect, SocketLayer::PendingError(handle_));
}

void TClientConnection::OnReadable() {
  if (SocketLayer::BytesWaiting(handle_) > 0) {
    Notify(TNotification::Read, 0);
    return;
  }
  const int closed = SocketLayer::ClosedState(handle_);
  if (closed != EAGAIN) Notify(TNotification::Close, closed);
}

void TClientConnection::Notify(TNotification kind, int error) {
  if (error != 0) {
    int code = error;
    ReportError(ErrorEventOf(kind), code);
    if (code != 0) throw ESocketError(AsyncErrorText(code));
    // The error ends this notification; without the notifier a dead socket cannot spin.
    readNotifier_.reset();
    return;
  }
  switch (kind) {
    case TNotification::Connect: ConnectNotified(); break;
    case TNotification::Read: ReadNotified(); break;
    case TNotification::Close: CloseNotified(); break;
  }
}

void TClientConnection::ConnectNotified() {
  connected_ = true;
  owner_->active_ = true;
  WatchForRead();
  const std::weak_ptr<int> alive = alive_;
  owner_->Fire(owner_->OnConnect);
  // The socket is writable now; the write event tells so, as the platform would.
  if (!alive.expired() && connected_) owner_->Fire(owner_->OnWrite);
}

void TClientConnection::ReadNotified() { owner_->Fire(owner_->OnRead); }

void TClientConnection::CloseNotified() { Disconnect(); }

void TClientConnection::FailAndDisconnect(TErrorEvent event, int error, const std::string& text) {
  int code = error;
  ReportError(event, code);
  Disconnect();
  if (code != 0) throw ESocketError(text);
}

void TClientConnection::ReportError(TErrorEvent event, int& error) {
  if (owner_ && owner_->OnError) owner_->OnError(*owner_, *this, event, error);
}

void TClientConnection::Disconnect() {
  const std::lock_guard lock(lock_);
  CancelLookup();
  if (handle_ == SocketLayer::kNoSocket) return;
  FireDisconnect();
  CloseHandle();
}

void TClientConnection::FireDisconnect() {
  if (!owner_) return;
  owner_->active_ = false;
  owner_->Fire(owner_->OnDisconnect);
}

void TClientConnection::ReleaseQuietly() {
  CancelLookup();
  CloseHandle();
}

void TClientConnection::CloseHandle() {
  readNotifier_.reset();
  writeNotifier_.reset();
  SocketLayer::Close(handle_);
  handle_ = SocketLayer::kNoSocket;
  remote_ = {};
  connected_ = false;
}

std::string TClientConnection::ReadPendingText() {
  const std::lock_guard lock(lock_);
  if (!connected_) return {};
  const int waiting = SocketLayer::BytesWaiting(handle_);
  if (waiting <= 0) return {};
  std::string text(static_cast<size_t>(waiting), '\0');
  const ptrdiff_t received = SocketLayer::Receive(handle_, text.data(), text.size());
  if (received >= 0) {
    text.resize(static_cast<size_t>(received));
    return text;
  }
  const int error = errno;
  if (!WouldBlock(error))
    FailAndDisconnect(eeReceive, error, SocketErrorText(SocketLayer::ErrorText(error), error, "recv"));
  return {};
}

int TClientConnection::SendString(const std::string& text) {
  const std::lock_guard lock(lock_);
  if (!connected_) return 0;
  const ptrdiff_t sent = SocketLayer::Send(handle_, text.data(), text.size());
  if (sent >= 0) return static_cast<int>(sent);
  const int error = errno;
  if (WouldBlock(error)) return -1;
  FailAndDisconnect(eeSend, error, SocketErrorText(SocketLayer::ErrorText(error), error, "send"));
  return 0;
}

TClientSocket::TClientSocket() : connection_(std::make_unique<TClientConnection>(*this)) {}

TClientSocket::~TClientSocket() = default;

void TClientSocket::SetActive(bool value) {
  if (value == active_) return;
  if (value && !connection_->Connected()) connection_->Activate();
  if (!value && connection_->Connected()) connection_->Disconnect();
}

void TClientSocket::SetHost(const std::string& host) {
  if (strcasecmp(host.c_str(), host_.c_str()) == 0) return;
  if (active_) throw ESocketError(kActiveChange);
  host_ = host;
}

void TClientSocket::SetPort(int32_t port) {
  if (port == port_) return;
  if (active_) throw ESocketError(kActiveChange);
  port_ = port;
}

void TClientSocket::SetClientType(TClientType type) {
  if (type == clientType_) return;
  if (connection_->Connected()) throw ESocketError(kActiveChange);
  clientType_ = type;
}

void TClientSocket::Fire(const TSocketNotifyEvent& event) {
  if (event) event(*this, *connection_);
}
