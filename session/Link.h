#pragma once
// One link to one scale: it opens and closes, frames and sends one command at a time, and hands
// on what the scale sends back. Serial, TCP and UDP each frame their commands their own way.

#include "Global.h"
#include "LinkSettings.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>

class TLink : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // Starts opening; the outcome arrives as StateChanged, or Failed with the reason in words.
  virtual void Open() = 0;
  virtual void Close() = 0;
  // Frames the command for this link and hands it over; dropped while the link is not open. A
  // send that fails says Lost.
  virtual void Send(const std::string& command) = 0;
  virtual LinkState State() const = 0;
  // The link as a report names it: "serial:COM1@9600", "tcp:host:port", "udp:host:port".
  virtual std::string Name() const = 0;

 signals:
  void TextReceived(const std::string& text);
  // The link can no longer carry the transfer: it ended by itself while open ("The serial device
  // went away"), or a command could not be sent or an answer not be read ("The command could not
  // be sent to COM1: Input/output error"). The session adds where its transfer stood.
  void Lost(const std::string& what);
  void StateChanged(LinkState state);
  void Failed(const std::string& reason);
  // A datagram reached this link's local port from a sender that is not its scale and was dropped.
  void DatagramIgnored();

 protected:
  // Says Lost once the call that met the failure has returned, so that a session never ends its
  // transfer inside its own send.
  void LoseLater(const std::string& what);
};

// "serial:COM1@9600", "tcp:host:port", "udp:host:port".
std::string LinkName(const TLinkSettings& settings);

// The link a name of LinkName stands for (the rate of a serial link left out); none for another text.
std::optional<TLinkSettings> LinkSettingsFromName(const std::string& name);

// The bytes a command goes out as: CR LF after it on serial and TCP, one zero byte after it in
// its UDP datagram.
std::string WireBytes(TLinkSettings::TKind kind, const std::string& command);

// A link that owns its serial port or network connection; a serial port may also be named by
// its device path.
std::unique_ptr<TLink> MakeLink(const TLinkSettings& settings, QObject* parent = nullptr);
