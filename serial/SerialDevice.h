#pragma once
// The operating system's side of a serial port. Every operation returns 0 or the errno of its failure.

#include "SerialPort.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The complete line configuration, handed to the device as a whole.
struct TLineSettings {
  int BaudRate = 9600;
  int ByteSize = 8;
  TParityBits Parity = prNone;
  TStopBits StopBits = sbOneStopBit;
  bool CheckParity = false;
  bool ReplaceParityErrors = false;
  uint8_t ErrorChar = 0;
  bool OutCtsFlow = false;
  bool OutDsrFlow = false;
  TDTRFlowControl DtrControl = dtrDisable;
  TRTSFlowControl RtsControl = rtsDisable;
  bool DsrSensitivity = false;
  bool TxContinueOnXoff = false;
  bool OutX = false;
  bool InX = false;
  bool DiscardNull = false;
  int XonLim = 256;
  int XoffLim = 256;
  uint8_t XonChar = 17;
  uint8_t XoffChar = 19;
  uint8_t EvtChar = 0;
};

struct TTimeoutSettings {
  uint32_t ReadInterval = 0xFFFFFFFF;
  uint32_t ReadTotalMultiplier = 0;
  uint32_t ReadTotalConstant = 0;
  uint32_t WriteTotalMultiplier = 100;
  uint32_t WriteTotalConstant = 1000;
};

// The driver's running counts of line errors and modem-line changes since it loaded; devices
// without them (ptys) read as all zero.
struct TLineCounters {
  int Frame = 0, Parity = 0, Overrun = 0, BufferOverrun = 0, Break = 0;
  int Cts = 0, Dsr = 0, Ring = 0, Rlsd = 0;
};
// Fills the counters of an open device handle; 0 or the errno.
using TLineCounterReader = std::function<int(int fd, TLineCounters& counters)>;
int ReadDriverLineCounters(int fd, TLineCounters& counters);

class TSerialDevice {
 public:
  // Opens `path` read/write and exclusively: a second opener fails with EBUSY or EWOULDBLOCK.
  // Line errors count from here on, whatever the driver counted before.
  static int Open(const std::string& path, std::unique_ptr<TSerialDevice>& device,
                  TLineCounterReader readCounters = ReadDriverLineCounters);
  ~TSerialDevice();
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;

  // A refused configuration leaves the previous one in force.
  int ApplyLine(const TLineSettings& settings);
  int ApplyTimeouts(const TTimeoutSettings& timeouts);
  int ApplyQueueSizes(int inputSize, int outputSize);

  int Write(const std::string& bytes, int& written);
  int Read(int count, std::string& bytes);
  // Also forgets the line errors not taken yet.
  int WaitingInput(int& count);
  int TakeErrors(TComErrors& errors);
  int ModemLines(TComSignals& lines);
  int AbortTransfers();
  int DiscardBuffers();

  int Handle() const { return fd_; }
  int InputSize() const { return inputSize_.load(); }

 private:
  TSerialDevice(int fd, TLineCounterReader readCounters);
  int WaitReady(short events, int timeoutMs);

  int fd_;
  TTimeoutSettings timeouts_;
  bool discardNull_ = false;
  bool rs485_ = false;
  std::atomic<int> inputSize_{1024};
  std::atomic<bool> outputPending_{false};  // written since the output queue was last seen empty
  const TLineCounterReader readCounters_;
  TLineCounters errorBaseline_;  // the counts at the last time the errors were taken or cleared
  friend class TDeviceEventWait;
  int ApplyModemLines(const TLineSettings& settings);
  int ApplyRtsToggle(bool on);
};

// Waits for the events of a mask on one device; Stop() ends a wait from any thread.
class TDeviceEventWait {
 public:
  // Gone: the device went away (unplugged, or its pty's other end closed); waiting on is pointless.
  enum class TWake { Stopped, Events, Skipped, Gone };

  // Sets the device's event mask; 0 or the errno of the failure in `error`.
  TDeviceEventWait(TSerialDevice& device, TComEvents mask, int& error);
  ~TDeviceEventWait();
  TDeviceEventWait(const TDeviceEventWait&) = delete;
  TDeviceEventWait& operator=(const TDeviceEventWait&) = delete;

  // Blocks without a time limit; the stop signal wins over events that came with it.
  TWake Wait(TComEvents& occurred);
  void Stop();
  // Sets the empty mask.
  void ClearMask();

 private:
  TComEvents CountedEvents();
  bool OutputRanEmpty();

  TSerialDevice& device_;
  TComEvents mask_;
  int epoll_ = -1;
  int stop_ = -1;
  int output_ = -1;  // a second descriptor of the device, so output room is told apart from input
  TLineCounters counts_;
  bool gone_ = false;
};
