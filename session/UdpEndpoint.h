#pragma once
// UDP links to several scales over one local endpoint: every command leaves from the same local
// port, and each reply goes to the link whose scale sent it. A datagram from anyone else is
// dropped and counted.

#include "EthConnection.h"
#include "Link.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TSharedUdpLink;
class TUDPServer;

struct TUdpPeer4 {
  uint32_t Address = 0;  // IPv4, host byte order
  int Port = 0;
};

// Which of the scales sent a reply from `sender`: the only one at its address, whatever its port;
// where several share the address, the one at its port. kNoScale for none.
constexpr size_t kNoScale = static_cast<size_t>(-1);
size_t ScaleOfSender(const std::vector<TUdpPeer4>& scales, const TUdpPeer4& sender);

class TUdpEndpoint : public QObject {
 public:
  explicit TUdpEndpoint(int localPort = CEthConnection::kUdpLocalPort);
  ~TUdpEndpoint() override;
  TUdpEndpoint(const TUdpEndpoint&) = delete;
  TUdpEndpoint& operator=(const TUdpEndpoint&) = delete;

  // Binds the local port unless it is bound; the reason in words when it cannot be, else empty.
  std::string Open();
  bool IsOpen() const;
  // Unbinds the local port; replies still on their way are dropped.
  void Close();
  int LocalPort() const { return localPort_; }
  // One datagram of exactly these bytes, lost when the endpoint is closed; empty, or why `what`
  // ("The command") could not be sent.
  std::string Send(const std::string& what, const std::string& host, int32_t port, const std::string& bytes);
  // Datagrams dropped since the endpoint was made, because no scale of its links sent them.
  int IgnoredDatagrams() const { return ignoredDatagrams_; }

 private:
  friend class TSharedUdpLink;
  void Attach(TSharedUdpLink& link);
  void Detach(TSharedUdpLink& link);
  // On the GUI thread: hands the reply to the link of its sender.
  void Deliver(uint32_t senderAddress, int senderPort, const std::string& text);
  void LoseEveryOpenLink(const std::string& reason);

  const int localPort_;
  std::unique_ptr<TUDPServer> server_;
  std::vector<TSharedUdpLink*> links_;
  int ignoredDatagrams_ = 0;
};

// The link to one UDP scale: commands go out as the window sends them (the bytes and one zero
// byte per datagram, one zero byte alone on opening).
class TSharedUdpLink : public TLink {
 public:
  TSharedUdpLink(const std::string& host, int32_t port, std::shared_ptr<TUdpEndpoint> endpoint,
                 QObject* parent = nullptr);
  ~TSharedUdpLink() override;

  void Open() override;
  void Close() override;
  void Send(const std::string& command) override;
  LinkState State() const override { return open_ ? lsConnected : lsDisconnected; }
  std::string Name() const override;

 private:
  friend class TUdpEndpoint;
  std::string host_;
  int32_t port_;
  // 0 when the host is not a dotted address: no reply is taken as this scale's then.
  uint32_t address_ = 0;
  std::shared_ptr<TUdpEndpoint> endpoint_;
  bool open_ = false;
};
