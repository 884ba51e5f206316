#pragma once
// The Ethernet links over the network connection object: TCP commands end in CR LF, a UDP
// command is one datagram of its bytes and one zero byte.

#include "Link.h"

#include <memory>
#include <string>

class CEthConnection;

// "tcp:host:port" or "udp:host:port" by the settings' protocol.
std::string EthernetLinkName(const TConnectionSettings& settings);

void SendTcpCommand(CEthConnection& connection, const std::string& command);
void SendUdpCommand(CEthConnection& connection, const std::string& command);

// Owns a connection whose posted states, replies and open failures it turns into signals.
class TEthernetLink : public TLink {
 public:
  ~TEthernetLink() override;
  TEthernetLink(const TEthernetLink&) = delete;
  TEthernetLink& operator=(const TEthernetLink&) = delete;

  void Open() override;
  void Close() override;
  LinkState State() const override;
  std::string Name() const override;

 protected:
  TEthernetLink(uint8_t protocol, const std::string& host, int32_t port, QObject* parent);

  CEthConnection& Connection() { return *connection_; }

 private:
  void CreateConnection();

  TConnectionSettings settings_;
  // Receives the posted states of the current connection only: it goes with it.
  std::unique_ptr<QObject> stateRelay_;
  std::unique_ptr<CEthConnection> connection_;
};

class TTcpLink : public TEthernetLink {
 public:
  TTcpLink(const std::string& host, int32_t port, QObject* parent = nullptr);
  void Send(const std::string& command) override;
};

class TUdpLink : public TEthernetLink {
 public:
  TUdpLink(const std::string& host, int32_t port, QObject* parent = nullptr);
  void Send(const std::string& command) override;
};
