#include "SerialPort.h"

#include "ComThread.h"
#include "PortNames.h"
#include "SerialDevice.h"

#include <QtGlobal>

#include <cerrno>

std::function<void(const std::exception& error)> ComPortDefaultErrorDisplay = [](const std::exception& error) {
  qWarning("%s", error.what());
};

void TComParity::Assign(const TComParity& source) {
  bits_ = source.bits_;
  check_ = source.check_;
  replace_ = source.replace_;
  replaceChar_ = source.replaceChar_;
  Apply();
}

void TComParity::ApplyToPort(TCustomComPort& port) { port.ApplyLineSettings(); }

TFlowControl TComFlowControl::FlowControl() const {
  const bool anyXonXoff = xonXoffIn_ || xonXoffOut_;
  const bool bothXonXoff = xonXoffIn_ && xonXoffOut_;
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && !anyXonXoff) return fcHardware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && bothXonXoff) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && !anyXonXoff) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl summary) {
  if (summary != fcCustom) {
    controlRTS_ = summary == fcHardware ? rtsHandshake : rtsDisable;
    outCTSFlow_ = summary == fcHardware;
    xonXoffIn_ = xonXoffOut_ = summary == fcSoftware;
  }
  Apply();
}

void TComFlowControl::Assign(const TComFlowControl& source) {
  outCTSFlow_ = source.outCTSFlow_;
  outDSRFlow_ = source.outDSRFlow_;
  controlDTR_ = source.controlDTR_;
  controlRTS_ = source.controlRTS_;
  xonXoffOut_ = source.xonXoffOut_;
  xonXoffIn_ = source.xonXoffIn_;
  dsrSensitivity_ = source.dsrSensitivity_;
  txContinueOnXoff_ = source.txContinueOnXoff_;
  xonChar_ = source.xonChar_;
  xoffChar_ = source.xoffChar_;
  Apply();
}

void TComFlowControl::ApplyToPort(TCustomComPort& port) { port.ApplyLineSettings(); }

void TComTimeouts::Assign(const TComTimeouts& source) {
  readInterval_ = source.readInterval_;
  readTotalMultiplier_ = source.readTotalMultiplier_;
  readTotalConstant_ = source.readTotalConstant_;
  writeTotalMultiplier_ = source.writeTotalMultiplier_;
  writeTotalConstant_ = source.writeTotalConstant_;
  Apply();
}

void TComTimeouts::ApplyToPort(TCustomComPort& port) { port.ApplyTimeoutSettings(); }

void TComBuffer::StoreSize(int& field, int size) {
  if (field == size) return;
  field = size > 0 && size % 2 != 0 ? size - 1 : size;
  Apply();
}

void TComBuffer::Assign(const TComBuffer& source) {
  inputSize_ = source.inputSize_;
  outputSize_ = source.outputSize_;
  Apply();
}

void TComBuffer::ApplyToPort(TCustomComPort& port) { port.ApplyBufferSizes(); }

TCustomComPort::TCustomComPort(QObject* owner) : QObject(owner) { StartSerialLibrary(); }

TCustomComPort::~TCustomComPort() { ClosePortQuietly(*this); }

void ClosePortQuietly(TCustomComPort& port) noexcept {
  try {
    port.ClosePort();
  } catch (const std::exception&) {
    // Nothing is left to tell: the port or its device is on its way out.
  }
}

std::string TCustomComPort::DevicePath() const { return PortDevicePath(port_); }

void TCustomComPort::CreateHandle() {
  const std::string path = DevicePath();
  if (path.empty()) throw EComPort(1, ENOENT);
  if (const int error = TSerialDevice::Open(path, device_)) throw EComPort(1, error);
}

void TCustomComPort::DestroyHandle() { device_.reset(); }

void TCustomComPort::OpenPort() {
  if (connected_) return;
  DoBeforeOpen();
  CreateHandle();
  connected_ = true;
  try {
    ApplyAllSettings();
    if (events_ != 0) StartEventThread();
  } catch (...) {
    DestroyHandle();
    connected_ = false;
    throw;
  }
  DoAfterOpen();
  ReportLineStates();
}

void TCustomComPort::ReportLineStates() {
  DoCTSChange(ReadLineSignals() & ComSignal(csCTS));
  DoDSRChange(ReadLineSignals() & ComSignal(csDSR));
  DoRLSDChange(ReadLineSignals() & ComSignal(csRLSD));
}

void TCustomComPort::ClosePort() {
  if (!connected_ || closing_) return;
  closing_ = true;
  try {
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
    DoBeforeClose();
    AbortTransfers();
  } catch (...) {
    closing_ = false;
    throw;
  }
  StopEventThread();
  DestroyHandle();
  connected_ = false;
  closing_ = false;
  DoAfterClose();
}

void TCustomComPort::StartEventThread() { thread_ = std::make_unique<TComThread>(*this, *device_); }

void TCustomComPort::StopEventThread() {
  if (!thread_) return;
  thread_->ReleaseRunningBatch();
  thread_.reset();
}

void TCustomComPort::SetConnected(bool connected) {
  if (loading_) {
    connectWhenLoaded_ = connected;
    return;
  }
  if (connected == connected_) return;
  if (connected)
    OpenPort();
  else
    ClosePort();
}

void TCustomComPort::Loaded() {
  loading_ = false;
  if (!connectWhenLoaded_ || connected_) return;
  try {
    OpenPort();
  } catch (const std::exception& error) {
    if (ComPortDefaultErrorDisplay) ComPortDefaultErrorDisplay(error);
  }
}

TSerialDevice& TCustomComPort::Device(int code) {
  if (!device_) throw EComPort(code, EBADF);
  return *device_;
}

int TCustomComPort::WriteText(const std::string& text) {
  TSerialDevice& device = Device(2);
  if (text.empty()) return 0;
  int written = 0;
  if (const int error = device.Write(text, written)) throw EComPort(2, error);
  return written;
}

int TCustomComPort::ReadText(std::string& text, int count) {
  text.clear();
  if (count <= 0) return 0;
  if (const int error = Device(3).Read(count, text)) throw EComPort(3, error);
  WaitingInputCount();
  return static_cast<int>(text.size());
}

int TCustomComPort::WaitingInputCount() {
  int count = 0;
  if (const int error = Device(10).WaitingInput(count)) throw EComPort(10, error);
  return count;
}

void TCustomComPort::AbortTransfers() {
  if (const int error = Device(5).AbortTransfers()) throw EComPort(5, error);
}

TComSignals TCustomComPort::ReadLineSignals() {
  TComSignals lines = 0;
  if (const int error = Device(11).ModemLines(lines)) throw EComPort(11, error);
  return lines;
}

TComErrors TCustomComPort::TakeLineErrors() {
  TComErrors errors = 0;
  if (const int error = Device(10).TakeErrors(errors)) throw EComPort(10, error);
  if (!parity_.Check()) errors &= ~ComError(ceRxParity);
  return errors;
}

void TCustomComPort::SuspendApply() { ++updateDepth_; }

void TCustomComPort::ResumeApply() {
  if (updateDepth_ <= 0) return;
  if (--updateDepth_ == 0) ApplyAllSettings();
}

bool TCustomComPort::CanApply() const { return connected_ && device_ && updateDepth_ == 0 && !loading_; }

void TCustomComPort::ApplyAllSettings() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

TLineSettings TCustomComPort::LineSettings() const {
  TLineSettings s;
  s.BaudRate = baudRate_ == brCustom ? customBaudRate_ : BaudRateValue(baudRate_);
  s.ByteSize = 5 + static_cast<int>(dataBits_);
  s.Parity = parity_.Bits();
  s.StopBits = stopBits_;
  s.CheckParity = parity_.Check();
  s.ReplaceParityErrors = parity_.Check() && parity_.Replace();
  s.ErrorChar = parity_.ReplaceChar();
  s.OutCtsFlow = flowControl_.OutCTSFlow();
  s.OutDsrFlow = flowControl_.OutDSRFlow();
  s.DtrControl = flowControl_.ControlDTR();
  s.RtsControl = flowControl_.ControlRTS();
  s.DsrSensitivity = flowControl_.DSRSensitivity();
  s.TxContinueOnXoff = flowControl_.TxContinueOnXoff();
  s.OutX = flowControl_.XonXoffOut();
  s.InX = flowControl_.XonXoffIn();
  s.DiscardNull = discardNull_;
  s.XonLim = s.XoffLim = buffer_.InputSize() / 4;
  s.XonChar = flowControl_.XonChar();
  s.XoffChar = flowControl_.XoffChar();
  s.EvtChar = eventChar_;
  return s;
}

void TCustomComPort::ApplyLineSettings() {
  if (!CanApply()) return;
  if (const int error = device_->ApplyLine(LineSettings())) throw EComPort(7, error);
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!CanApply()) return;
  TTimeoutSettings t;
  t.ReadInterval = static_cast<uint32_t>(timeouts_.ReadInterval());
  t.ReadTotalMultiplier = static_cast<uint32_t>(timeouts_.ReadTotalMultiplier());
  t.ReadTotalConstant = static_cast<uint32_t>(timeouts_.ReadTotalConstant());
  t.WriteTotalMultiplier = static_cast<uint32_t>(timeouts_.WriteTotalMultiplier());
  t.WriteTotalConstant = static_cast<uint32_t>(timeouts_.WriteTotalConstant());
  if (const int error = device_->ApplyTimeouts(t)) throw EComPort(8, error);
}

void TCustomComPort::ApplyBufferSizes() {
  if (!CanApply()) return;
  if (const int error = device_->ApplyQueueSizes(buffer_.InputSize(), buffer_.OutputSize()))
    throw EComPort(9, error);
}

void TCustomComPort::SetPort(const std::string& port) {
  if (port == port_) return;
  port_ = port;
  if (!connected_ || loading_) return;
  ClosePort();
  OpenPort();
}

void TCustomComPort::SetSyncMethod(TSyncMethod method) {
  if (method == syncMethod_) return;
  if (connected_ && !loading_) throw EComPort(14);
  syncMethod_ = method;
}

void TCustomComPort::RunBatch(TComEvents events) {
  ForEachInBatchOrder(events, [this](TComEvent event) {
    if (connected_ && device_) RunEventAction(event);
  });
}

void TCustomComPort::RunEventAction(TComEvent event) {
  switch (event) {
    case evError:
      if (const TComErrors errors = TakeLineErrors()) DoError(errors);
      break;
    case evRxChar:
      if (const int count = WaitingInputCount(); count > 0) DoRxChar(count);
      break;
    case evTxEmpty: DoTxEmpty(); break;
    case evBreak: DoBreak(); break;
    case evRing: DoRing(); break;
    case evCTS: DoCTSChange(ReadLineSignals() & ComSignal(csCTS)); break;
    case evDSR: DoDSRChange(ReadLineSignals() & ComSignal(csDSR)); break;
    case evRxFlag: DoRxFlag(); break;
    case evRLSD: DoRLSDChange(ReadLineSignals() & ComSignal(csRLSD)); break;
    case evRx80Full: DoRx80Full(); break;
  }
}

// A port that is being closed, or was closed meanwhile, has nothing left to lose.
void TCustomComPort::RunDeviceLost() {
  if (connected_ && !closing_ && device_) DoDeviceLost();
}

namespace {
void Raise(const TCustomComPort::TNotifyEvent& handler, TCustomComPort& sender) {
  if (handler) handler(sender);
}
}  // namespace

void TCustomComPort::DoAfterClose() { Raise(OnAfterClose, *this); }
void TCustomComPort::DoAfterOpen() { Raise(OnAfterOpen, *this); }
void TCustomComPort::DoBeforeClose() { Raise(OnBeforeClose, *this); }
void TCustomComPort::DoBeforeOpen() { Raise(OnBeforeOpen, *this); }
void TCustomComPort::DoTxEmpty() { Raise(OnTxEmpty, *this); }
void TCustomComPort::DoBreak() { Raise(OnBreak, *this); }
void TCustomComPort::DoRing() { Raise(OnRing, *this); }
void TCustomComPort::DoRxFlag() { Raise(OnRxFlag, *this); }
void TCustomComPort::DoRx80Full() { Raise(OnRx80Full, *this); }
void TCustomComPort::DoDeviceLost() { Raise(OnDeviceLost, *this); }

void TCustomComPort::DoRxChar(int count) {
  if (OnRxChar) OnRxChar(*this, count);
}

void TCustomComPort::DoRxBuf(const char* buffer, int count) {
  if (OnRxBuf) OnRxBuf(*this, buffer, count);
}

void TCustomComPort::DoCTSChange(bool onOff) {
  if (OnCTSChange) OnCTSChange(*this, onOff);
}

void TCustomComPort::DoDSRChange(bool onOff) {
  if (OnDSRChange) OnDSRChange(*this, onOff);
}

void TCustomComPort::DoRLSDChange(bool onOff) {
  if (OnRLSDChange) OnRLSDChange(*this, onOff);
}

void TCustomComPort::DoError(TComErrors errors) {
  if (OnError) OnError(*this, errors);
}
