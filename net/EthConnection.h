#pragma once
// The one object through which the tool talks to the scale over Ethernet.

#include "Global.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TClientSocket;
class TUDPServer;

class CEthConnection {
 public:
  CEthConnection();
  ~CEthConnection();
  CEthConnection(const CEthConnection&) = delete;
  CEthConnection& operator=(const CEthConnection&) = delete;

  // Opens or closes the link; the result reaches the main window only as WM_PORT_STATE.
  void ToggleConnection(uint8_t protocol, const std::string& host, int32_t port);
  void SendTCP(const std::string& text);
  void SendUDP(const std::string& command);

  // Told why the UDP endpoint could not be opened, so the operator can be shown it.
  std::function<void(const std::string& reason)> OnOpenFailure;

  LinkState State = 0;

 private:
  std::unique_ptr<TClientSocket> TcpSocket;
  std::unique_ptr<TUDPServer> UdpServer;
};
