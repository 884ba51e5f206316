#include "WindowLink.h"

#include "EthConnection.h"
#include "EthernetLink.h"
#include "SerialLink.h"
#include "SerialPort.h"

TWindowLink::TWindowLink(TComPort& port, const std::unique_ptr<CEthConnection>& connection,
                         const TConnectionSettings& settings, QObject* parent)
    : TLink(parent), port_(port), connection_(connection), settings_(settings) {}

void TWindowLink::Open() {
  if (Serial()) {
    port_.OpenPort();
  } else if (connection_ && connection_->State == lsDisconnected) {
    connection_->ToggleConnection(settings_.Protocol, settings_.Host, settings_.Port);
  }
}

void TWindowLink::Close() {
  if (Serial()) {
    port_.ClosePort();
  } else if (connection_ && connection_->State != lsDisconnected) {
    connection_->ToggleConnection(settings_.Protocol, settings_.Host, settings_.Port);
  }
}

void TWindowLink::Send(const std::string& command) {
  if (Serial()) {
    if (std::string failure = SendSerialCommand(port_, command); !failure.empty()) LoseLater(failure);
  } else if (!connection_) {
    return;
  } else if (settings_.Protocol == epUdp) {
    SendUdpCommand(*connection_, command);
  } else {
    SendTcpCommand(*connection_, command);
  }
}

LinkState TWindowLink::State() const {
  if (Serial()) return port_.Connected() ? lsConnected : lsDisconnected;
  return connection_ ? connection_->State : lsDisconnected;
}

std::string TWindowLink::Name() const { return Serial() ? SerialLinkName(port_) : EthernetLinkName(settings_); }
