#pragma once
// The serial port component: settings model, device, event thread, reads and writes.

#include <QObject>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

enum TBaudRate {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
  br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TStoreType { stRegistry, stIniFile };
enum TStoredProp { sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers };
using TStoredProps = unsigned;  // bit set of TStoredProp
constexpr TStoredProps StoredProp(TStoredProp p) { return 1u << p; }

class EComPort : public std::runtime_error {
 public:
  EComPort(int code, int systemCode = -1);
  int Code() const { return code_; }
  int SystemCode() const { return systemCode_; }

 private:
  int code_;
  int systemCode_;
};

class TCustomComPort : public QObject {
 public:
  explicit TCustomComPort(QObject* owner = nullptr);
  ~TCustomComPort() override;

  void OpenPort();
  void ClosePort();
  bool Connected() const { return connected_; }

  const std::string& Port() const { return port_; }
  void SetPort(const std::string& port);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate rate);

  int WriteText(const std::string& text);
  int ReadText(std::string& text, int count);

  TStoredProps SavedGroups() const { return savedGroups_; }
  void SetSavedGroups(TStoredProps groups) { savedGroups_ = groups; }
  void SaveSettings(TStoreType kind, const std::string& path);
  void RestoreSettings(TStoreType kind, const std::string& path);

  std::function<void(TCustomComPort& sender, int count)> OnRxChar;

 private:
  std::string port_ = "COM1";
  TBaudRate baudRate_ = br9600;
  bool connected_ = false;
  TStoredProps savedGroups_ = StoredProp(sgBasic);
};

class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

std::string BaudRateText(TBaudRate rate);
TBaudRate BaudRateFromText(const std::string& text);
