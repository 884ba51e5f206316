#pragma once
// The serial port component: settings model, device, event thread, reads and writes.

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
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
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TStoreType { stRegistry, stIniFile };

enum TStoredProp { sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers };
using TStoredProps = unsigned;  // bit set of TStoredProp
constexpr TStoredProps StoredProp(TStoredProp p) { return 1u << p; }

enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
using TComEvents = unsigned;  // bit set of TComEvent
constexpr TComEvents ComEvent(TComEvent e) { return 1u << e; }
constexpr TComEvents AllComEvents = (1u << (evRx80Full + 1)) - 1;

enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = unsigned;  // bit set of TComError
constexpr TComErrors ComError(TComError e) { return 1u << e; }

enum TComSignal { csCTS, csDSR, csRing, csRLSD };
using TComSignals = unsigned;  // bit set of TComSignal
constexpr TComSignals ComSignal(TComSignal s) { return 1u << s; }

// The serial error: a library code 1-23 and the system's errno, or -1 when there is none.
class EComPort : public std::runtime_error {
 public:
  explicit EComPort(int code, int systemCode = -1);
  int Code() const { return code_; }
  int SystemCode() const { return systemCode_; }

 private:
  int code_;
  int systemCode_;
};

// The message of a code, as the translation layer gave it at library start-up.
std::string ComErrorText(int code);
// Adds the "cport" domain and translates the error texts, once; the first port or error calls it.
void StartSerialLibrary();

class TCustomComPort;
class TIniFile;

// Common part of the four settings groups: a change of a field applies the group to the port.
class TComGroup {
 public:
  virtual ~TComGroup() = default;
  TCustomComPort* ComPort() const { return port_; }

 protected:
  explicit TComGroup(TCustomComPort* port) : port_(port) {}
  // A copy is detached: it belongs to no port and applies nothing.
  TComGroup(const TComGroup&) : port_(nullptr) {}
  TComGroup& operator=(const TComGroup&) = delete;

  template <typename T>
  void Store(T& field, T value) {
    if (field == value) return;
    field = value;
    Apply();
  }
  void Apply() {
    if (port_) ApplyToPort(*port_);
  }
  virtual void ApplyToPort(TCustomComPort& port) = 0;

 private:
  TCustomComPort* port_;
};

class TComParity : public TComGroup {
 public:
  explicit TComParity(TCustomComPort* port = nullptr) : TComGroup(port) {}
  TComParity(const TComParity&) = default;

  TParityBits Bits() const { return bits_; }
  void SetBits(TParityBits bits) { Store(bits_, bits); }
  bool Check() const { return check_; }
  void SetCheck(bool check) { Store(check_, check); }
  bool Replace() const { return replace_; }
  void SetReplace(bool replace) { Store(replace_, replace); }
  uint8_t ReplaceChar() const { return replaceChar_; }
  void SetReplaceChar(uint8_t c) { Store(replaceChar_, c); }
  void Assign(const TComParity& source);

 private:
  void ApplyToPort(TCustomComPort& port) override;

  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  uint8_t replaceChar_ = 0;
};

class TComFlowControl : public TComGroup {
 public:
  explicit TComFlowControl(TCustomComPort* port = nullptr) : TComGroup(port) {}
  TComFlowControl(const TComFlowControl&) = default;

  bool OutCTSFlow() const { return outCTSFlow_; }
  void SetOutCTSFlow(bool on) { Store(outCTSFlow_, on); }
  bool OutDSRFlow() const { return outDSRFlow_; }
  void SetOutDSRFlow(bool on) { Store(outDSRFlow_, on); }
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  void SetControlDTR(TDTRFlowControl control) { Store(controlDTR_, control); }
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  void SetControlRTS(TRTSFlowControl control) { Store(controlRTS_, control); }
  bool XonXoffOut() const { return xonXoffOut_; }
  void SetXonXoffOut(bool on) { Store(xonXoffOut_, on); }
  bool XonXoffIn() const { return xonXoffIn_; }
  void SetXonXoffIn(bool on) { Store(xonXoffIn_, on); }
  bool DSRSensitivity() const { return dsrSensitivity_; }
  void SetDSRSensitivity(bool on) { Store(dsrSensitivity_, on); }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool on) { Store(txContinueOnXoff_, on); }
  uint8_t XonChar() const { return xonChar_; }
  void SetXonChar(uint8_t c) { Store(xonChar_, c); }
  uint8_t XoffChar() const { return xoffChar_; }
  void SetXoffChar(uint8_t c) { Store(xoffChar_, c); }

  // The summary of the fields; writing it always applies.
  TFlowControl FlowControl() const;
  void SetFlowControl(TFlowControl summary);
  void Assign(const TComFlowControl& source);

 private:
  void ApplyToPort(TCustomComPort& port) override;

  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  uint8_t xonChar_ = 17;
  uint8_t xoffChar_ = 19;
};

// Milliseconds; -1 is the "all bits set" value of the interval.
class TComTimeouts : public TComGroup {
 public:
  explicit TComTimeouts(TCustomComPort* port = nullptr) : TComGroup(port) {}
  TComTimeouts(const TComTimeouts&) = default;

  int ReadInterval() const { return readInterval_; }
  void SetReadInterval(int ms) { Store(readInterval_, ms); }
  int ReadTotalMultiplier() const { return readTotalMultiplier_; }
  void SetReadTotalMultiplier(int ms) { Store(readTotalMultiplier_, ms); }
  int ReadTotalConstant() const { return readTotalConstant_; }
  void SetReadTotalConstant(int ms) { Store(readTotalConstant_, ms); }
  int WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  void SetWriteTotalMultiplier(int ms) { Store(writeTotalMultiplier_, ms); }
  int WriteTotalConstant() const { return writeTotalConstant_; }
  void SetWriteTotalConstant(int ms) { Store(writeTotalConstant_, ms); }
  void Assign(const TComTimeouts& source);

 private:
  void ApplyToPort(TCustomComPort& port) override;

  int readInterval_ = -1;
  int readTotalMultiplier_ = 0;
  int readTotalConstant_ = 0;
  int writeTotalMultiplier_ = 100;
  int writeTotalConstant_ = 1000;
};

class TComBuffer : public TComGroup {
 public:
  explicit TComBuffer(TCustomComPort* port = nullptr) : TComGroup(port) {}
  TComBuffer(const TComBuffer&) = default;

  // A positive odd size is stored as the next lower even number.
  int InputSize() const { return inputSize_; }
  void SetInputSize(int size) { StoreSize(inputSize_, size); }
  int OutputSize() const { return outputSize_; }
  void SetOutputSize(int size) { StoreSize(outputSize_, size); }
  void Assign(const TComBuffer& source);

 private:
  void StoreSize(int& field, int size);
  void ApplyToPort(TCustomComPort& port) override;

  int inputSize_ = 1024;
  int outputSize_ = 1024;
};

class TSerialDevice;
class TComThread;
struct TLineSettings;

class TCustomComPort : public QObject {
 public:
  using TNotifyEvent = std::function<void(TCustomComPort& sender)>;
  using TRxCharEvent = std::function<void(TCustomComPort& sender, int count)>;
  using TRxBufEvent = std::function<void(TCustomComPort& sender, const char* buffer, int count)>;
  using TComSignalEvent = std::function<void(TCustomComPort& sender, bool onOff)>;
  using TComErrorEvent = std::function<void(TCustomComPort& sender, TComErrors errors)>;

  explicit TCustomComPort(QObject* owner = nullptr);
  ~TCustomComPort() override;

  void OpenPort();
  void ClosePort();
  bool Connected() const { return connected_; }
  void SetConnected(bool connected);

  int WriteText(const std::string& text);
  int ReadText(std::string& text, int count);
  int WaitingInputCount();
  void AbortTransfers();
  TComSignals ReadLineSignals();
  TComErrors TakeLineErrors();

  void SuspendApply();
  void ResumeApply();
  virtual void ApplyAllSettings();
  virtual void ApplyLineSettings();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyBufferSizes();

  void SaveSettings(TStoreType kind, const std::string& path);
  void RestoreSettings(TStoreType kind, const std::string& path);
  // The same with an INI file already read (one in memory, for tests and fuzzing).
  void SaveSettings(TIniFile& ini);
  void RestoreSettings(const TIniFile& ini);

  // The owner's stored description is being read: settings are recorded, not applied.
  void BeginLoading() { loading_ = true; }
  // Reading has finished: a recorded Connected true opens the port now.
  void Loaded();
  bool Loading() const { return loading_; }

  const std::string& Port() const { return port_; }
  void SetPort(const std::string& port);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate rate) { StoreLine(baudRate_, rate); }
  int CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(int rate) { StoreLine(customBaudRate_, rate); }
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits bits) { StoreLine(dataBits_, bits); }
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits bits) { StoreLine(stopBits_, bits); }
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool discard) { StoreLine(discardNull_, discard); }
  uint8_t EventChar() const { return eventChar_; }
  void SetEventChar(uint8_t c) { StoreLine(eventChar_, c); }
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents events) { events_ = events; }
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod method);
  TStoredProps SavedGroups() const { return savedGroups_; }
  void SetSavedGroups(TStoredProps groups) { savedGroups_ = groups; }

  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  void SetParity(const TComParity& parity) { parity_.Assign(parity); }
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  void SetFlowControl(const TComFlowControl& flowControl) { flowControl_.Assign(flowControl); }
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TComTimeouts& timeouts) { timeouts_.Assign(timeouts); }
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  void SetBuffer(const TComBuffer& buffer) { buffer_.Assign(buffer); }

  TNotifyEvent OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;  // published but never raised: data is announced through OnRxChar
  TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
  TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
  TComErrorEvent OnError;
  // The device went away under the open port (unplugged, or its pty's other end closed): raised
  // once, where OnRxChar runs. No further events come; the port stays open until it is closed.
  TNotifyEvent OnDeviceLost;

 protected:
  virtual void StoreIniFile(const std::string& path);
  virtual void LoadIniFile(const std::string& path);
  virtual void CreateHandle();
  virtual void DestroyHandle();
  // The device that Port stands for (PortDevicePath); empty for none.
  virtual std::string DevicePath() const;

  virtual void DoAfterClose();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoBeforeOpen();
  virtual void DoRxChar(int count);
  virtual void DoRxBuf(const char* buffer, int count);
  virtual void DoTxEmpty();
  virtual void DoBreak();
  virtual void DoRing();
  virtual void DoRxFlag();
  virtual void DoCTSChange(bool onOff);
  virtual void DoDSRChange(bool onOff);
  virtual void DoError(TComErrors errors);
  virtual void DoRLSDChange(bool onOff);
  virtual void DoRx80Full();
  virtual void DoDeviceLost();

 private:
  friend class TComThread;

  template <typename T>
  void StoreLine(T& field, T value) {
    if (field == value) return;
    field = value;
    ApplyLineSettings();
  }
  bool CanApply() const;
  // The open device; a closed port raises `code` as the failing operation would.
  TSerialDevice& Device(int code);
  TLineSettings LineSettings() const;
  void StartEventThread();
  void StopEventThread();
  void ReportLineStates();
  // Runs the actions of one batch of events, in their fixed order.
  void RunBatch(TComEvents events);
  void RunEventAction(TComEvent event);
  void RunDeviceLost();

  std::string port_ = "COM1";
  TBaudRate baudRate_ = br9600;
  int customBaudRate_ = 9600;
  TDataBits dataBits_ = dbEight;
  TStopBits stopBits_ = sbOneStopBit;
  TComParity parity_{this};
  TComFlowControl flowControl_{this};
  TComTimeouts timeouts_{this};
  TComBuffer buffer_{this};
  TComEvents events_ = AllComEvents;
  uint8_t eventChar_ = 0;
  bool discardNull_ = false;
  TSyncMethod syncMethod_ = smThreadSync;
  TStoredProps savedGroups_ = StoredProp(sgBasic);

  bool connected_ = false;
  bool closing_ = false;
  bool loading_ = false;
  bool connectWhenLoaded_ = false;
  int updateDepth_ = 0;
  std::unique_ptr<TSerialDevice> device_;
  std::unique_ptr<TComThread> thread_;
};

class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

// Where errors go that escape work the port does on its own (opening after loading,
// window-sync actions, the handler of a device that went away) or that no caller can take.
// Defaults to a warning on the Qt message handler.
extern std::function<void(const std::exception& error)> ComPortDefaultErrorDisplay;

// Closes the port where a failure has no one to tell: its device went away, or its owner is
// going. A port whose closing failed may still read as connected.
void ClosePortQuietly(TCustomComPort& port) noexcept;

std::string BaudRateText(TBaudRate rate);
TBaudRate BaudRateFromText(const std::string& text);
std::string StopBitsText(TStopBits bits);
TStopBits StopBitsFromText(const std::string& text);
std::string DataBitsText(TDataBits bits);
TDataBits DataBitsFromText(const std::string& text);
std::string ParityText(TParityBits bits);
TParityBits ParityFromText(const std::string& text);
std::string FlowControlText(TFlowControl summary);
TFlowControl FlowControlFromText(const std::string& text);
std::string DtrControlText(TDTRFlowControl control);
TDTRFlowControl DtrControlFromText(const std::string& text);
std::string RtsControlText(TRTSFlowControl control);
TRTSFlowControl RtsControlFromText(const std::string& text);
std::string YesNoText(bool value);
bool YesNoFromText(const std::string& text);
std::string CharSettingText(uint8_t c);
uint8_t CharSettingFromText(const std::string& text);

// The bit rate in bits per second of a rate other than brCustom.
int BaudRateValue(TBaudRate rate);

// The names ("COM" and a number) of the serial ports present, sorted without regard to case.
void ListSerialPorts(std::vector<std::string>& list);
