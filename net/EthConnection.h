#pragma once
// The one object through which the tool talks to the scale over Ethernet: it opens and closes a
// TCP connection or the UDP endpoint, sends commands, hands received text on and reports its
// state to its owner as posted WM_PORT_STATE messages.

#include "ClientSocket.h"
#include "Global.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QObject;

class TUDPServer;

class CEthConnection {
 public:
  // A received datagram hands on at most 100 bytes: the receive buffer holds them and a zero.
  static constexpr size_t kUdpReceiveBufferSize = 101;
  static constexpr int kUdpDatagramLimit = 8192;
  static constexpr int kUdpLocalPort = 1001;

  // `stateTarget` receives the posted states; `settings` gives the UDP destination at every send.
  explicit CEthConnection(QObject* stateTarget, const TConnectionSettings& settings = ConnectionSettings);
  ~CEthConnection();
  CEthConnection(const CEthConnection&) = delete;
  CEthConnection& operator=(const CEthConnection&) = delete;

  // Opens or closes the link (a TEthernetProtocol); the result reaches the owner only as
  // WM_PORT_STATE.
  void ToggleConnection(uint8_t protocol, const std::string& host, int32_t port);
  // Sends the text unchanged over an established TCP connection.
  void SendTCP(const std::string& text);
  // Sends the command and one zero byte as one datagram to the settings' Host and Port.
  void SendUDP(const std::string& command);

  // Told why the UDP endpoint could not be opened, so the operator can be shown it.
  std::function<void(const std::string& reason)> OnOpenFailure;
  // Told why a TCP connection could not be made (host not found, connection refused, timed
  // out). Left unset, as in the window, such an attempt just stays "connecting".
  std::function<void(const std::string& reason)> OnTcpFailure;
  // Told why a command could not be sent or an answer not be read over the open link ("The
  // command could not be sent to host:port: ...", no closing full stop); on the GUI thread, once
  // the call that met the failure has returned.
  std::function<void(const std::string& reason)> OnLinkFailure;
  // Receives every non-empty received text on the GUI thread.
  std::function<void(const std::string& text, int length)> OnReply;
  // Told on the GUI thread of each datagram dropped because it did not come from the scale's
  // address.
  std::function<void()> OnIgnoredDatagram;

  LinkState State = lsDisconnected;

 private:
  void ToggleTcp(const std::string& host, int32_t port);
  void CloseTcp();
  void OpenTcp(const std::string& host, int32_t port);
  // These return why the endpoint could not be opened, or an empty text.
  std::string ToggleUdp(const std::string& host, int32_t port);
  std::string OpenUdp(const std::string& host, int32_t port);
  void CreateUdpServer(const std::string& host);
  void CloseUdp();
  void SendOpeningDatagram(const std::string& host, int32_t port);

  void TcpConnected();
  void TcpDisconnected();
  void TcpRead(TClientConnection& socket);
  void TcpError(TErrorEvent event, int& errorCode);
  void PostState(LinkState state);
  void ReportLinkFailure(const std::string& reason);
  // Runs on the listener thread; queues the text to the GUI thread and never waits for it.
  void UdpRead(std::string_view data, bool fromScale, const std::weak_ptr<int>& alive);

  QObject* stateTarget_;
  const TConnectionSettings& settings_;
  std::unique_ptr<TClientSocket> TcpSocket;
  std::unique_ptr<TUDPServer> UdpServer;
  // Expires with the object, so text still queued for it is dropped.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// What the operator is told when the UDP endpoint on `localPort` cannot be opened.
std::string UdpOpenFailureText(const std::exception_ptr& failure, int localPort = CEthConnection::kUdpLocalPort);
// Why a TCP connection to host:port could not even be started.
std::string TcpStartFailureText(const ESocketError& error, const std::string& host, int32_t port);
// Why a TCP connection to host:port failed, from the socket's error event and code.
std::string TcpFailureText(TErrorEvent event, int errorCode, const std::string& host, int32_t port);
// Why a received datagram was dropped: its handler failed.
std::string AnswerFailureText(const std::exception& error);
// "<what> could not be sent to host:port: <the error's text>", without a closing full stop, so
// that a transfer can add where it stood.
std::string SendFailureText(const std::string& what, const std::string& host, int32_t port,
                            const std::exception& error);
