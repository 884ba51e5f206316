#pragma once
// The main window's link: serial or Ethernet, TCP or UDP, as the connection settings say at the
// moment of each command. The window opens and closes the port and the connection itself and
// hands what they read to this link, which passes it on to its session as TextReceived, as every
// other link does. A serial send that fails says Lost; the window tells its session of a failed
// Ethernet send itself.

#include "Link.h"

#include <memory>

class CEthConnection;
class TComPort;

class TWindowLink : public TLink {
 public:
  TWindowLink(TComPort& port, const std::unique_ptr<CEthConnection>& connection,
              const TConnectionSettings& settings, QObject* parent = nullptr);

  void Open() override;
  void Close() override;
  void Send(const std::string& command) override;
  LinkState State() const override;
  std::string Name() const override;
  // Text the window's port or connection read from the scale.
  void Receive(const std::string& text) { emit TextReceived(text); }

 private:
  bool Serial() const { return settings_.Kind == ikSerial; }

  TComPort& port_;
  const std::unique_ptr<CEthConnection>& connection_;
  const TConnectionSettings& settings_;
};
