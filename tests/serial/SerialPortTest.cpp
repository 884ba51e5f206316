#include "PtyLink.h"
#include "SerialDevice.h"
#include "SerialPort.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <termios.h>
#include <unistd.h>

namespace {
// Counts the applies that groups and settings ask for.
class TCountingPort : public TComPort {
 public:
  using TComPort::TComPort;
  void ApplyLineSettings() override {
    ++lineApplies;
    TComPort::ApplyLineSettings();
  }
  void ApplyBufferSizes() override {
    ++bufferApplies;
    TComPort::ApplyBufferSizes();
  }
  void ApplyTimeoutSettings() override {
    ++timeoutApplies;
    TComPort::ApplyTimeoutSettings();
  }
  int lineApplies = 0;
  int bufferApplies = 0;
  int timeoutApplies = 0;
};

class SerialPortTest : public ::testing::Test {
 protected:
  SerialPortTest() : pty(PortsDirectoryFor(dir), "COM5") { port.SetPort("COM5"); }
  ~SerialPortTest() override { unsetenv("SCALEDB_PORTS_DIR"); }

  static std::string PortsDirectoryFor(const TTempDir& directory) {
    setenv("SCALEDB_PORTS_DIR", directory.Path().c_str(), 1);
    return directory.Path();
  }
  speed_t Speed() const {
    const termios t = LineState();
    return cfgetospeed(&t);
  }
  termios LineState() const {
    termios t{};
    tcgetattr(pty.Slave(), &t);
    return t;
  }
  static int ErrorCode(const std::function<void()>& action) {
    try {
      action();
    } catch (const EComPort& error) {
      return error.Code();
    }
    return 0;
  }

  TTempDir dir;
  TPtyLink pty;
  TCountingPort port;
};
}  // namespace

TEST_F(SerialPortTest, WritesReachTheLineUnchangedAndReadsReturnWhatIsWaiting) {
  port.OpenPort();
  ASSERT_TRUE(port.Connected());
  EXPECT_EQ(port.WriteText("SbP\r\n"), 5);
  EXPECT_EQ(pty.Receive(5), "SbP\r\n");
  EXPECT_EQ(port.WriteText(""), 0);

  std::string text = "stale";
  EXPECT_EQ(port.ReadText(text, 10), 0);
  EXPECT_EQ(text, "");
  pty.Send("MbP");
  ASSERT_TRUE(QTest::qWaitFor([&] { return port.WaitingInputCount() == 3; }));
  EXPECT_EQ(port.ReadText(text, 10), 3);
  EXPECT_EQ(text, "MbP");
  EXPECT_EQ(port.ReadText(text, 0), 0);
  EXPECT_EQ(text, "");
}

TEST_F(SerialPortTest, RawLineSettingsAreHandedToTheDeviceAtOpen) {
  port.SetBaudRate(br19200);
  port.SetDataBits(dbSeven);
  port.Parity().SetBits(prMark);
  port.SetStopBits(sbTwoStopBits);
  EXPECT_NE(Speed(), B19200) << "a closed port touches no device";
  port.OpenPort();
  const termios t = LineState();
  EXPECT_EQ(cfgetospeed(&t), B19200);
  // A pty keeps eight bits without the parity bit whatever it is given; mark parity still shows.
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
  EXPECT_FALSE(t.c_oflag & OPOST);
}

TEST_F(SerialPortTest, ASettingTheDeviceCannotHonourIsRefusedAndTheOldConfigurationStays) {
  port.OpenPort();
  try {
    port.SetStopBits(sbOne5StopBits);  // one and a half only exists with five data bits
    FAIL() << "no error";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Code(), 7);
    EXPECT_EQ(error.SystemCode(), EINVAL);
  }
  EXPECT_EQ(port.StopBits(), sbOne5StopBits);
  EXPECT_TRUE(port.Connected());
  EXPECT_FALSE(LineState().c_cflag & CSTOPB);
  port.SetDataBits(dbFive);
  EXPECT_TRUE(LineState().c_cflag & CSTOPB);
}

TEST_F(SerialPortTest, RxCharCarriesTheWaitingCountOnTheGuiThreadAndUnreadBytesCountAgain) {
  std::vector<int> counts;
  bool onGuiThread = true;
  port.OnRxChar = [&](TCustomComPort&, int count) {
    counts.push_back(count);
    onGuiThread = onGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
  };
  port.OpenPort();
  pty.Send("abc");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !counts.empty() && counts.back() == 3; }));
  pty.Send("de");
  ASSERT_TRUE(QTest::qWaitFor([&] { return counts.back() == 5; }));
  EXPECT_TRUE(onGuiThread);
  std::string text;
  EXPECT_EQ(port.ReadText(text, counts.back()), 5);
  EXPECT_EQ(text, "abcde");
}

TEST_F(SerialPortTest, ALineReportFollowsOpenAndTheLinesReadOffAtClose) {
  std::vector<std::string> log;
  port.OnBeforeOpen = [&](TCustomComPort&) { log.push_back("before open"); };
  port.OnAfterOpen = [&](TCustomComPort& p) { log.push_back(p.Connected() ? "after open" : "after open?"); };
  port.OnCTSChange = [&](TCustomComPort&, bool on) { log.push_back(on ? "cts on" : "cts off"); };
  port.OnDSRChange = [&](TCustomComPort&, bool on) { log.push_back(on ? "dsr on" : "dsr off"); };
  port.OnRLSDChange = [&](TCustomComPort&, bool on) { log.push_back(on ? "rlsd on" : "rlsd off"); };
  port.OnBeforeClose = [&](TCustomComPort& p) { log.push_back(p.Connected() ? "before close" : "?"); };
  port.OnAfterClose = [&](TCustomComPort& p) { log.push_back(p.Connected() ? "?" : "after close"); };
  port.OpenPort();
  port.ClosePort();
  port.ClosePort();
  // A pty has no modem lines: they read as off.
  EXPECT_EQ(log, (std::vector<std::string>{"before open", "after open", "cts off", "dsr off", "rlsd off", "cts off",
                                           "dsr off", "rlsd off", "before close", "after close"}));
}

TEST_F(SerialPortTest, ASecondOpenerOfAHeldPortGetsCodeOneAndStaysClosed) {
  port.OpenPort();
  TComPort second;
  second.SetPort("COM5");
  bool afterOpen = false;
  second.OnAfterOpen = [&](TCustomComPort&) { afterOpen = true; };
  try {
    second.OpenPort();
    FAIL() << "second open succeeded";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Code(), 1);
    EXPECT_TRUE(error.SystemCode() == EWOULDBLOCK || error.SystemCode() == EBUSY) << error.SystemCode();
  }
  EXPECT_FALSE(second.Connected());
  EXPECT_FALSE(afterOpen);
  EXPECT_EQ(port.WriteText("x"), 1);
  port.ClosePort();
  second.OpenPort();
  EXPECT_TRUE(second.Connected());
}

TEST_F(SerialPortTest, AMissingDeviceGivesCodeOneWithErrnoTwoInTheMessage) {
  ASSERT_EQ(symlink("/nonexistent/serial-device", dir.File("COM6").c_str()), 0);
  for (const char* name : {"COM6", "COMx", ""}) {
    port.SetPort(name);
    try {
      port.OpenPort();
      FAIL() << name;
    } catch (const EComPort& error) {
      EXPECT_EQ(error.Code(), 1);
      EXPECT_EQ(error.SystemCode(), ENOENT);
      EXPECT_STREQ(error.what(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_FALSE(port.Connected());
  }
}

TEST_F(SerialPortTest, ErrorsWithoutSystemNumberCarryNoSuffix) {
  EXPECT_STREQ(EComPort(14).what(), "Cannot set property while connected");
  EXPECT_EQ(EComPort(14).SystemCode(), -1);
  EXPECT_EQ(ComErrorText(23), "Registry error");
  EXPECT_EQ(ComErrorText(4), "Invalid Async parameter");
}

// Ptys keep no line counters, so the driver's are stood in for; they start where an earlier
// session left them.
TEST_F(SerialPortTest, LineErrorsCountFromTheOpenNotFromEarlierSessions) {
  TLineCounters driver{.Frame = 4, .Parity = 2, .Overrun = 1, .BufferOverrun = 1, .Break = 3};
  std::unique_ptr<TSerialDevice> device;
  ASSERT_EQ(TSerialDevice::Open(pty.SlavePath(), device, [&driver](int, TLineCounters& counters) {
              counters = driver;
              return 0;
            }),
            0);
  TComErrors errors = ~0u;
  ASSERT_EQ(device->TakeErrors(errors), 0);
  EXPECT_EQ(errors, 0u) << "errors of an earlier session";
  ++driver.Frame;
  ++driver.Break;
  ASSERT_EQ(device->TakeErrors(errors), 0);
  EXPECT_EQ(errors, ComError(ceFrame) | ComError(ceBreak));
  ASSERT_EQ(device->TakeErrors(errors), 0);
  EXPECT_EQ(errors, 0u) << "taking the errors clears them";
  ++driver.Parity;
  int waiting = -1;
  ASSERT_EQ(device->WaitingInput(waiting), 0);
  ASSERT_EQ(device->TakeErrors(errors), 0);
  EXPECT_EQ(errors, 0u) << "reading the input count clears them too";
}

TEST_F(SerialPortTest, OperationsOnAClosedPortFailWithTheirOwnCodes) {
  std::string text;
  EXPECT_EQ(ErrorCode([&] { port.WriteText("x"); }), 2);
  EXPECT_EQ(ErrorCode([&] { port.ReadText(text, 1); }), 3);
  EXPECT_EQ(ErrorCode([&] { port.WaitingInputCount(); }), 10);
  EXPECT_EQ(ErrorCode([&] { port.TakeLineErrors(); }), 10);
  EXPECT_EQ(ErrorCode([&] { port.ReadLineSignals(); }), 11);
  EXPECT_EQ(ErrorCode([&] { port.AbortTransfers(); }), 5);
}

TEST_F(SerialPortTest, CloseRunsABatchQueuedBeforeItWithThePortStillOpen) {
  std::vector<bool> connectedInHandler;
  port.OnRxChar = [&](TCustomComPort& p, int) { connectedInHandler.push_back(p.Connected()); };
  port.OpenPort();
  pty.Send("MbP\n");
  // Without running the event loop the event thread stays blocked in its hand-over.
  while (port.WaitingInputCount() < 4) usleep(1000);
  usleep(300 * 1000);
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(connectedInHandler, std::vector<bool>{true});
  QTest::qWait(50);
  EXPECT_EQ(connectedInHandler.size(), 1u);
}

TEST_F(SerialPortTest, AHandlerMayCloseThePortFromInsideItsBatch) {
  int calls = 0;
  port.OnRxChar = [&](TCustomComPort& p, int) {
    ++calls;
    p.ClosePort();
  };
  port.OpenPort();
  pty.Send("x");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !port.Connected(); }));
  EXPECT_EQ(calls, 1);
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
}

TEST_F(SerialPortTest, AnErrorInsideABatchEndsDeliveryButThePortKeepsWorking) {
  int calls = 0;
  port.OnRxChar = [&](TCustomComPort&, int) {
    ++calls;
    throw std::runtime_error("handler failed");
  };
  port.OpenPort();
  pty.Send("a");
  ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 1; }));
  pty.Send("b");
  QTest::qWait(300);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(port.Connected());
  std::string text;
  EXPECT_EQ(port.ReadText(text, 10), 2);
  EXPECT_EQ(port.WriteText("ok"), 2);
  port.ClosePort();
  port.OpenPort();
  pty.Send("c");
  EXPECT_TRUE(QTest::qWaitFor([&] { return calls == 2; })) << "reopening delivers again";
}

TEST_F(SerialPortTest, AnEmptyEventSetMeansNoThreadAndNoRxChar) {
  bool raised = false;
  port.OnRxChar = [&](TCustomComPort&, int) { raised = true; };
  port.SetEvents(0);
  port.OpenPort();
  pty.Send("abc");
  QTest::qWait(300);
  EXPECT_FALSE(raised);
  EXPECT_EQ(port.WaitingInputCount(), 3);
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
}

TEST_F(SerialPortTest, NoSyncRunsHandlersOnTheEventThread) {
  std::atomic<bool> onOtherThread{false};
  port.SetSyncMethod(smNone);
  port.OnRxChar = [&](TCustomComPort&, int) { onOtherThread = QThread::currentThread() != QCoreApplication::instance()->thread(); };
  port.OpenPort();
  pty.Send("a");
  EXPECT_TRUE(QTest::qWaitFor([&] { return onOtherThread.load(); }));
  port.ClosePort();
}

TEST_F(SerialPortTest, WindowSyncRunsHandlersOnTheGuiThread) {
  bool onGuiThread = false;
  port.SetSyncMethod(smWindowSync);
  port.OnRxChar = [&](TCustomComPort&, int) { onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread(); };
  port.OpenPort();
  pty.Send("a");
  EXPECT_TRUE(QTest::qWaitFor([&] { return onGuiThread; }));
  port.ClosePort();
}

TEST_F(SerialPortTest, TxEmptyFollowsAWriteOnceTheOtherSideTookTheBytes) {
  int empties = 0;
  port.OnTxEmpty = [&](TCustomComPort&) { ++empties; };
  port.OpenPort();
  QTest::qWait(100);
  EXPECT_EQ(empties, 0) << "nothing was written yet";
  port.WriteText("Se\r\n");
  EXPECT_EQ(pty.Receive(4), "Se\r\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return empties == 1; }));
}

TEST_F(SerialPortTest, SyncMethodCannotChangeWhileOpen) {
  port.SetSyncMethod(smWindowSync);
  port.SetSyncMethod(smThreadSync);
  port.OpenPort();
  EXPECT_EQ(ErrorCode([&] { port.SetSyncMethod(smNone); }), 14);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(ErrorCode([&] { port.SetSyncMethod(smThreadSync); }), 0);
}

TEST_F(SerialPortTest, ANameInOtherLetterCaseIsAChangeAndReopensTheOpenPort) {
  int opens = 0, closes = 0;
  port.OnAfterOpen = [&](TCustomComPort&) { ++opens; };
  port.OnAfterClose = [&](TCustomComPort&) { ++closes; };
  port.SetPort("com5");
  EXPECT_EQ(opens + closes, 0) << "closed: only stored";
  port.SetPort("COM5");
  port.OpenPort();
  port.SetPort("COM5");
  EXPECT_EQ(closes, 0);
  port.SetPort("com5");
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(opens, 2);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.Port(), "com5");
}

TEST_F(SerialPortTest, ConnectedOpensAndClosesAndIsOnlyRecordedWhileLoading) {
  port.SetConnected(true);
  EXPECT_TRUE(port.Connected());
  port.SetConnected(false);
  EXPECT_FALSE(port.Connected());
  port.BeginLoading();
  port.SetConnected(true);
  EXPECT_FALSE(port.Connected());
  port.Loaded();
  EXPECT_TRUE(port.Connected());
}

TEST_F(SerialPortTest, SettingWritesApplyOnlyRealChanges) {
  port.SetBaudRate(br9600);
  port.Parity().SetBits(prNone);
  port.FlowControl().SetXonChar(17);
  EXPECT_EQ(port.lineApplies, 0);
  port.SetBaudRate(br4800);
  port.Parity().SetCheck(true);
  EXPECT_EQ(port.lineApplies, 2);
  port.FlowControl().SetFlowControl(fcNone);  // the summary always applies
  EXPECT_EQ(port.lineApplies, 3);
  TComParity parity;
  parity.SetBits(prEven);
  parity.SetReplace(true);
  port.SetParity(parity);  // a whole group applies once
  EXPECT_EQ(port.lineApplies, 4);
  EXPECT_EQ(port.Parity().Bits(), prEven);
  EXPECT_TRUE(port.Parity().Replace());
  EXPECT_FALSE(port.Parity().Check());
  port.Timeouts().SetReadInterval(-1);
  EXPECT_EQ(port.timeoutApplies, 0);
  port.Timeouts().SetReadTotalConstant(5);
  EXPECT_EQ(port.timeoutApplies, 1);
  port.SetEvents(ComEvent(evRxChar));
  EXPECT_EQ(port.lineApplies + port.bufferApplies, 4);
}

TEST_F(SerialPortTest, OddBufferSizesAreStoredEvenAndApplied) {
  port.Buffer().SetInputSize(1024);
  EXPECT_EQ(port.bufferApplies, 0);
  port.Buffer().SetInputSize(1025);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.bufferApplies, 1);
  port.Buffer().SetOutputSize(7);
  EXPECT_EQ(port.Buffer().OutputSize(), 6);
  port.OpenPort();
  EXPECT_EQ(ErrorCode([&] { port.Buffer().SetOutputSize(-3); }), 9);
  EXPECT_EQ(port.Buffer().OutputSize(), -3) << "a refused value stays stored";
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(ErrorCode([&] { port.Buffer().SetOutputSize(2048); }), 0);
}

TEST_F(SerialPortTest, SuspendedWritesApplyOnceAtTheLastResume) {
  port.OpenPort();
  port.SuspendApply();
  port.SuspendApply();
  port.SetBaudRate(br38400);
  port.ResumeApply();
  EXPECT_NE(Speed(), B38400);
  port.ResumeApply();
  EXPECT_EQ(Speed(), B38400);
  port.ResumeApply();  // an unmatched resume does nothing
  port.SetBaudRate(br57600);
  EXPECT_EQ(Speed(), B57600);
}

TEST(ComFlowControlTest, SummaryReadsFromTheFourDecidingFields) {
  TComFlowControl flow;
  EXPECT_EQ(flow.FlowControl(), fcNone);
  flow.SetControlRTS(rtsHandshake);
  flow.SetOutCTSFlow(true);
  flow.SetControlDTR(dtrHandshake);
  flow.SetOutDSRFlow(true);
  EXPECT_EQ(flow.FlowControl(), fcHardware) << "DTR and DSR do not take part";
  flow.SetXonXoffIn(true);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
  flow.SetControlRTS(rtsDisable);
  flow.SetOutCTSFlow(false);
  flow.SetXonXoffOut(true);
  EXPECT_EQ(flow.FlowControl(), fcSoftware);
  flow.SetXonXoffOut(false);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
  flow.SetControlRTS(rtsEnable);
  flow.SetXonXoffIn(false);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
}

TEST(ComFlowControlTest, SummaryWritesTouchOnlyRtsCtsAndXonXoff) {
  TComFlowControl flow;
  flow.SetControlDTR(dtrEnable);
  flow.SetDSRSensitivity(true);
  flow.SetTxContinueOnXoff(true);
  flow.SetOutDSRFlow(true);
  flow.SetFlowControl(fcHardware);
  EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(flow.OutCTSFlow());
  EXPECT_FALSE(flow.XonXoffIn() || flow.XonXoffOut());
  flow.SetFlowControl(fcSoftware);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.OutCTSFlow());
  EXPECT_TRUE(flow.XonXoffIn() && flow.XonXoffOut());
  flow.SetFlowControl(fcCustom);
  EXPECT_EQ(flow.FlowControl(), fcSoftware);
  flow.SetFlowControl(fcNone);
  EXPECT_EQ(flow.FlowControl(), fcNone);
  EXPECT_EQ(flow.ControlDTR(), dtrEnable);
  EXPECT_TRUE(flow.DSRSensitivity() && flow.TxContinueOnXoff() && flow.OutDSRFlow());
}

TEST(ComPortDefaultsTest, ThePortStartsWithTheDocumentedSettings) {
  TComPort port;
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.FlowControl().XonChar(), 17);
  EXPECT_EQ(port.FlowControl().XoffChar(), 19);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Events(), AllComEvents);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.SavedGroups(), StoredProp(sgBasic));
  EXPECT_FALSE(port.Connected());
}

TEST_F(SerialPortTest, RestoringIntoAnOpenPortReconfiguresItOnceAtTheEnd) {
  dir.Write("settings.ini", "[ComPort1]\nBaudRate=19200\nStopBits=2\n");
  port.setObjectName("ComPort1");
  port.OpenPort();
  const int appliesBefore = port.lineApplies;
  port.RestoreSettings(stIniFile, dir.File("settings.ini"));
  EXPECT_EQ(Speed(), B19200);
  EXPECT_TRUE(LineState().c_cflag & CSTOPB);
  EXPECT_EQ(ErrorCode([&] { port.RestoreSettings(stIniFile, dir.Path()); }), 17);
  port.SetBaudRate(br38400);
  EXPECT_EQ(Speed(), B38400) << "a failed restore still resumes applying";
  EXPECT_GT(port.lineApplies, appliesBefore);
}
