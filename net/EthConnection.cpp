#include "EthConnection.h"

#include "ClientSocket.h"
#include "QueuedCall.h"
#include "UDPServer.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace {
const std::string kUdpCannotOpen = "The UDP connection cannot be opened: ";

std::string PortInUseText(int localPort) {
  return kUdpCannotOpen + "local port " + std::to_string(localPort) +
         " is already in use by another program. Close that program, then connect again.";
}

std::string NoPermissionText(int localPort) {
  const std::string program = QCoreApplication::applicationFilePath().toStdString();
  const std::string port = std::to_string(localPort);
  return kUdpCannotOpen + "this program may not use local port " + port +
         ", since ports below 1024 need privilege. Give the program that right with\n"
         "    sudo setcap cap_net_bind_service=+ep " + program +
         "\nor lower the first unprivileged port with\n"
         "    sudo sysctl net.ipv4.ip_unprivileged_port_start=" + port + "\n"
         "then connect again.";
}

std::string WithoutFullStop(std::string text) {
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// Closing what is going away anyway: a socket that fails to close has no one left to tell.
template <typename Socket>
void CloseQuietly(std::unique_ptr<Socket>& socket) noexcept {
  try {
    if (socket && socket->Active()) socket->SetActive(false);
  } catch (const std::exception&) {
    // The socket goes with its owner either way.
  }
  socket.reset();
}
}  // namespace

std::string UdpOpenFailureText(const std::exception_ptr& failure, int localPort) {
  try {
    std::rethrow_exception(failure);
  } catch (const ECouldNotBindSocket&) {
    return PortInUseText(localPort);
  } catch (const EUDPSocketError& error) {
    if (error.ErrorCode == EACCES || error.ErrorCode == EPERM) return NoPermissionText(localPort);
    return kUdpCannotOpen + error.what();
  } catch (const std::exception& error) {
    return kUdpCannotOpen + error.what();
  } catch (...) {
    return kUdpCannotOpen + "unknown error.";
  }
}

std::string TcpStartFailureText(const ESocketError& error, const std::string& host, int32_t port) {
  const std::string link = host + ":" + std::to_string(port);
  if (error.ErrorCode == EMFILE || error.ErrorCode == ENFILE)
    return "too many open files: no descriptor is left for the connection to " + link + ".";
  return "Cannot connect to " + link + ": " + error.what() + ".";
}

std::string SendFailureText(const std::string& what, const std::string& host, int32_t port,
                            const std::exception& error) {
  return what + " could not be sent to " + host + ":" + std::to_string(port) + ": " + WithoutFullStop(error.what());
}

std::string AnswerFailureText(const std::exception& error) {
  return "An answer from the scale could not be taken in: " + WithoutFullStop(error.what());
}

std::string TcpFailureText(TErrorEvent event, int errorCode, const std::string& host, int32_t port) {
  const std::string prefix = "Cannot connect to " + host + ":" + std::to_string(port) + ": ";
  if (event == eeLookup) return prefix + "host not found (" + SocketLayer::LookupErrorText(errorCode) + ").";
  return prefix + SocketLayer::ErrorText(errorCode) + ".";
}

CEthConnection::CEthConnection(QObject* stateTarget, const TConnectionSettings& settings)
    : stateTarget_(stateTarget), settings_(settings) {}

void CEthConnection::PostState(LinkState state) { PostPortState(stateTarget_, state); }

CEthConnection::~CEthConnection() {
  CloseQuietly(TcpSocket);
  CloseQuietly(UdpServer);
}

void CEthConnection::ReportLinkFailure(const std::string& reason) {
  QueueCall(QCoreApplication::instance(), [this, reason, alive = std::weak_ptr<int>(alive_)] {
    if (!alive.expired() && OnLinkFailure) OnLinkFailure(reason);
  });
}

void CEthConnection::ToggleConnection(uint8_t protocol, const std::string& host, int32_t port) {
  std::string failure;
  if (protocol == epTcp) ToggleTcp(host, port);
  if (protocol == epUdp) failure = ToggleUdp(host, port);
  PostState(State);
  // Told after the state is posted, so the label no longer reads "connected" behind the box.
  if (!failure.empty() && OnOpenFailure) OnOpenFailure(failure);
}

void CEthConnection::ToggleTcp(const std::string& host, int32_t port) {
  if (TcpSocket && TcpSocket->Active()) {
    CloseTcp();
  } else if (State == lsConnecting || State == lsClosing) {
    // The attempt in progress goes on; if it succeeds, TcpConnected still reports it connected.
    State = lsDisconnected;
  } else {
    OpenTcp(host, port);
  }
}

void CEthConnection::CloseTcp() {
  State = lsClosing;
  CloseQuietly(TcpSocket);
}

void CEthConnection::OpenTcp(const std::string& host, int32_t port) {
  State = lsConnecting;
  try {
    TcpSocket = std::make_unique<TClientSocket>();
    TcpSocket->OnConnect = [this](TClientSocket&, TClientConnection&) { TcpConnected(); };
    TcpSocket->OnDisconnect = [this](TClientSocket&, TClientConnection&) { TcpDisconnected(); };
    TcpSocket->OnRead = [this](TClientSocket&, TClientConnection& socket) { TcpRead(socket); };
    TcpSocket->OnError = [this](TClientSocket&, TClientConnection&, TErrorEvent event, int& code) {
      TcpError(event, code);
    };
    TcpSocket->SetClientType(ctNonBlocking);
    TcpSocket->SetHost(host);
    TcpSocket->SetPort(port);
    TcpSocket->SetActive(true);
  } catch (const ESocketError& error) {
    // The attempt stays "connecting" for the window; a caller that listens is told why.
    if (OnTcpFailure) OnTcpFailure(TcpStartFailureText(error, host, port));
  }
}

std::string CEthConnection::ToggleUdp(const std::string& host, int32_t port) {
  if (UdpServer && UdpServer->Active()) {
    CloseUdp();
    return {};
  }
  return OpenUdp(host, port);
}

void CEthConnection::CloseUdp() {
  State = lsDisconnected;
  CloseQuietly(UdpServer);
}

std::string CEthConnection::OpenUdp(const std::string& host, int32_t port) {
  if (std::string refusal = NotOneScaleReason(host); !refusal.empty()) return kUdpCannotOpen + refusal;
  State = lsConnected;
  std::string failure;
  try {
    CreateUdpServer(host);
    UdpServer->SetActive(true);
  } catch (...) {
    failure = UdpOpenFailureText(std::current_exception());
  }
  if (failure.empty() && UdpServer->Active()) {
    SendOpeningDatagram(host, port);
    return {};
  }
  // Nothing is open, so the operator sees "disconnected" and the next toggle opens afresh.
  State = lsDisconnected;
  UdpServer.reset();
  return failure.empty() ? kUdpCannotOpen + "unknown error." : failure;
}

// Only the scale's own address may answer: a datagram from anywhere else could acknowledge a
// record the scale never got.
void CEthConnection::CreateUdpServer(const std::string& host) {
  UdpServer = std::make_unique<TUDPServer>();
  UdpServer->BufferSize = kUdpDatagramLimit;
  UdpServer->Bindings.Clear();
  UdpServer->DefaultPort = kUdpLocalPort;
  UdpServer->Bindings.Add();
  const uint32_t scale = DottedAddressOrZero(host);
  UdpServer->OnUDPRead = [this, scale, alive = std::weak_ptr<int>(alive_)](TUDPServer&, std::string_view data,
                                                                           TSocketHandle& binding) {
    UdpRead(data, scale != 0 && DottedAddressOrZero(binding.PeerIP) == scale, alive);
  };
  UdpServer->ThreadedEvent = true;
  UdpServer->OnReadFailure = [this](TUDPServer&, const std::exception& error) {
    ReportLinkFailure(AnswerFailureText(error));
  };
}

// The endpoint stays open when the opening datagram fails: the operator is told why, and so is
// each command that fails the same way.
void CEthConnection::SendOpeningDatagram(const std::string& host, int32_t port) {
  const char zero = '\0';
  try {
    UdpServer->Binding()->SendDatagram(host, port, &zero, 1);
  } catch (const EUDPException& error) {
    ReportLinkFailure(SendFailureText("The opening datagram", host, port, error));
  } catch (const EConvertError& error) {
    ReportLinkFailure(SendFailureText("The opening datagram", host, port, error));
  }
}

void CEthConnection::SendTCP(const std::string& text) {
  if (!TcpSocket || !TcpSocket->Active()) return;
  try {
    TcpSocket->Socket().SendString(text);
  } catch (const ESocketError& error) {
    ReportLinkFailure(SendFailureText("The command", TcpSocket->Host(), TcpSocket->Port(), error));
  }
}

void CEthConnection::SendUDP(const std::string& command) {
  if (!UdpServer || !UdpServer->Active()) return;
  // A command of any length goes whole, in a datagram as long as it needs.
  std::string datagram = command;
  datagram.push_back('\0');
  try {
    UdpServer->Binding()->SendDatagram(settings_.Host, settings_.Port, datagram.data(), datagram.size());
  } catch (const EUDPException& error) {
    ReportLinkFailure(SendFailureText("The command", settings_.Host, settings_.Port, error));
  } catch (const EConvertError& error) {
    ReportLinkFailure(SendFailureText("The command", settings_.Host, settings_.Port, error));
  }
}

void CEthConnection::TcpConnected() {
  State = lsConnected;
  PostState(lsConnected);
}

void CEthConnection::TcpDisconnected() {
  State = lsDisconnected;
  PostState(lsDisconnected);
}

void CEthConnection::TcpRead(TClientConnection& socket) {
  std::string text;
  try {
    text = socket.ReadPendingText();
  } catch (const ESocketError& error) {
    ReportLinkFailure("The scale's answer could not be read from " + TcpSocket->Host() + ":" +
                      std::to_string(TcpSocket->Port()) + ": " + WithoutFullStop(error.what()));
  }
  if (!text.empty() && OnReply) OnReply(text, static_cast<int>(text.size()));
}

void CEthConnection::TcpError(TErrorEvent event, int& errorCode) {
  const int error = errorCode;
  errorCode = 0;
  if (OnTcpFailure && (event == eeLookup || event == eeConnect))
    OnTcpFailure(TcpFailureText(event, error, TcpSocket->Host(), TcpSocket->Port()));
}

void CEthConnection::UdpRead(std::string_view data, bool fromScale, const std::weak_ptr<int>& alive) {
  if (!fromScale) {
    QueueCall(QCoreApplication::instance(), [this, alive] {
      if (!alive.expired() && OnIgnoredDatagram) OnIgnoredDatagram();
    });
    return;
  }
  if (data.empty()) return;
  std::array<char, kUdpReceiveBufferSize> buffer{};
  const size_t size = std::min(data.size(), kUdpReceiveBufferSize - 1);
  std::memcpy(buffer.data(), data.data(), size);
  buffer[size] = '\0';
  const std::string text(buffer.data());
  if (text.empty()) return;
  QueueCall(QCoreApplication::instance(), [this, alive, text] {
    if (!alive.expired() && OnReply) OnReply(text, static_cast<int>(text.size()));
  });
}
