#pragma once
// The serial link: commands end in CR LF and go out through the port's WriteText.

#include "Link.h"

#include <memory>
#include <string>

class EComPort;
class TComPort;

// A closed port with the settings file's [ComPort1] settings (as the window keeps them), then
// the settings' port and rate where they give one; "COM<n>" names and device paths both open.
std::unique_ptr<TComPort> MakeSerialPort(const TLinkSettings& settings);
// Writes the command and CR LF while the port is open; write errors are dropped.
void SendSerialCommand(TComPort& port, const std::string& command);
// Reads up to `count` waiting bytes; empty when the read fails.
std::string ReadSerialText(TComPort& port, int count);
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

class TSerialLink : public TLink {
 public:
  explicit TSerialLink(std::unique_ptr<TComPort> port, QObject* parent = nullptr);
  ~TSerialLink() override;

  void Open() override;
  void Close() override;
  void Send(const std::string& command) override;
  LinkState State() const override;
  std::string Name() const override;

  TComPort& Port() { return *port_; }

 private:
  std::unique_ptr<TComPort> port_;
};
