#pragma once
// The serial link: commands end in CR LF and go out through the port's WriteText.

#include "Link.h"

#include <memory>
#include <string>

class EComPort;
class TComPort;

// A closed port with the settings file's [ComPort1] settings (as the window keeps them), then
// the settings' port and rate where they give one; "COM<n>" names and device paths both open.
// A settings file that is there but cannot be read leaves the defaults, and `settingsFailure`
// (when given) says why.
std::unique_ptr<TComPort> MakeSerialPort(const TLinkSettings& settings, std::string* settingsFailure = nullptr);
// Writes the command and CR LF while the port is open; empty, or why the write failed.
std::string SendSerialCommand(TComPort& port, const std::string& command);
// The waiting bytes a read took, or why the read failed.
struct TSerialRead {
  std::string Text;
  std::string Failure;
};
TSerialRead ReadSerialText(TComPort& port, int count);
// What a serial link reports when its device goes away under an open port.
extern const char kSerialDeviceGoneText[];
// Why the port named `port` (opening `device`) did not open: the cause and its fix in words.
std::string SerialOpenDiagnosis(const std::string& port, const std::string& device, const EComPort& error);
// The port's message, then the diagnosis.
std::string SerialOpenFailureText(const std::string& port, const std::string& device, const EComPort& error);
// "serial:COM1@9600".
std::string SerialLinkName(const TComPort& port);
// Sets a rate in bits per second: a named rate where one fits, else a custom one.
void SetBitsPerSecond(TComPort& port, int rate);

// A failed write or read says Lost with its reason, so the session fails its transfer at once.
class TSerialLink : public TLink {
 public:
  explicit TSerialLink(std::unique_ptr<TComPort> port, QObject* parent = nullptr);
  // A link whose port settings could not be read: it fails to open, with that reason.
  TSerialLink(std::unique_ptr<TComPort> port, std::string settingsFailure, QObject* parent = nullptr);
  ~TSerialLink() override;

  void Open() override;
  void Close() override;
  void Send(const std::string& command) override;
  LinkState State() const override;
  std::string Name() const override;

  TComPort& Port() { return *port_; }

 private:
  std::unique_ptr<TComPort> port_;
  std::string settingsFailure_;
};
