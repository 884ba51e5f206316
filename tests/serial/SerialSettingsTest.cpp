#include "IniFile.h"
#include "SerialPort.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>


namespace {
class SerialSettingsTest : public ::testing::Test {
 protected:
  SerialSettingsTest() { port.setObjectName("ComPort1"); }

  void Restore(const std::string& text, TStoredProps groups = StoredProp(sgBasic)) {
    dir.Write("RuzOzodArir.ini", text);
    port.SetSavedGroups(groups);
    port.RestoreSettings(stIniFile, Path());
  }
  std::string Path() const { return dir.File("RuzOzodArir.ini"); }
  std::string Saved() const { return dir.Read("RuzOzodArir.ini"); }

  TTempDir dir;
  TComPort port;
};

int ErrorCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const EComPort& error) {
    return error.Code();
  }
  return 0;
}
}  // namespace

TEST(IniFileTest, SectionsAndKeysMatchWithoutRegardToCase) {
  TTempDir dir;
  dir.Write("a.ini", "[Other]\nPort=COM9\n[comport1]\n BAUDRATE = 19200 \nflag=yes\r\n");
  const TIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("ComPort1", "BaudRate", "x"), "19200");
  EXPECT_EQ(ini.ReadString("COMPORT1", "Flag", "x"), "yes");
  EXPECT_EQ(ini.ReadString("ComPort1", "Port", "COM1"), "COM1");
  EXPECT_EQ(ini.ReadString("Missing", "Port", "d"), "d");
}

TEST(IniFileTest, StrayCarriageReturnsAroundNamesAndValuesAreBlanks) {
  TTempDir dir;
  dir.Write("a.ini", "[ComPort1]\r\r\nPort=COM3\r\r\n\rBaudRate = 19200 \r\r\n");
  TIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("ComPort1", "Port", "COM1"), "COM3");
  EXPECT_EQ(ini.ReadString("ComPort1", "BaudRate", "x"), "19200");
  ini.WriteString("ComPort1", "Port", "COM4");
  EXPECT_EQ(TIniFile(dir.File("a.ini")).ReadString("ComPort1", "Port", "COM1"), "COM4") << "written where it stood";
}

TEST(IniFileTest, IntegersAreDecimalOrHexAfterZeroX) {
  TTempDir dir;
  dir.Write("a.ini", "[s]\nhex=0x1F\nHEX=0XfF\nbare=0x\nneg=-1\nbad=12abc\nempty=\nbig=2147483648\nmin=-2147483648\n");
  const TIniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadInteger("s", "hex", 7), 31);
  EXPECT_EQ(ini.ReadInteger("s", "bare", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "neg", 7), -1);
  EXPECT_EQ(ini.ReadInteger("s", "bad", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "empty", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "big", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "min", 7), -2147483647 - 1);
  EXPECT_EQ(ini.ReadInteger("s", "none", 7), 7);
  EXPECT_EQ(ParseIniInteger("0xFFFFFFFF", 0), -1);
  EXPECT_EQ(ParseIniInteger("0x123456789", 5), 5);
}

TEST(IniFileTest, WritesReplaceInPlaceAppendToTheSectionAndKeepEveryOtherLine) {
  TTempDir dir;
  dir.Write("a.ini", "; settings\n[A]\nx=1\n\n[B]\ny=2\n");
  TIniFile ini(dir.File("a.ini"));
  ini.WriteString("a", "X", "10");
  ini.WriteString("A", "z", "3");
  ini.WriteInteger("C", "w", -4);
  EXPECT_EQ(dir.Read("a.ini"), "; settings\n[A]\nx=10\nz=3\n\n[B]\ny=2\n[C]\nw=-4\n");
  EXPECT_EQ(TIniFile(dir.File("a.ini")).ReadInteger("c", "W", 0), -4);
}

TEST(IniFileTest, OnlyKeysOfTheFirstSectionOfANameAreFound) {
  TIniFile ini = TIniFile::FromText("k=0\n[A]\n;k=1\n\n=e\nk=2\n[a]\nk=3\n");
  EXPECT_EQ(ini.ReadString("A", "k", "d"), "2") << "neither the line before any header nor the comment";
  EXPECT_EQ(ini.ReadString("A", "", "d"), "e") << "a key without a name, never the blank line";
  EXPECT_EQ(ini.ReadString("", "k", "d"), "d");
  ini.WriteString("a", "k", "9");
  ini.WriteString("a", "new", "1");
  EXPECT_EQ(ini.Text(), "k=0\n[A]\n;k=1\n\n=e\nk=9\nnew=1\n[a]\nk=3\n");
}

TEST(IniFileTest, AWriteCreatesTheFileAndARefusedWriteIsAnError) {
  TTempDir dir;
  TIniFile created(dir.File("new.ini"));
  created.WriteString("S", "k", "v");
  EXPECT_EQ(dir.Read("new.ini"), "[S]\nk=v\n");
  TIniFile nowhere(dir.File("missing/dir/x.ini"));
  EXPECT_THROW(nowhere.WriteString("S", "k", "v"), EIniFile);
  EXPECT_EQ(nowhere.Text(), "") << "a refused write leaves the object as it was";
  EXPECT_THROW(TIniFile{dir.Path()}, EIniFile);
}

TEST(IniFileTest, CarriageReturnLineEndsAreKept) {
  TTempDir dir;
  dir.Write("a.ini", "[A]\r\nx=1\r\n");
  TIniFile ini(dir.File("a.ini"));
  ini.WriteString("A", "y", "2");
  EXPECT_EQ(dir.Read("a.ini"), "[A]\r\nx=1\r\ny=2\r\n");
}

TEST_F(SerialSettingsTest, TheDefaultsSaveAsExactlySevenLines) {
  port.SaveSettings(stIniFile, Path());
  EXPECT_EQ(Saved(), "[ComPort1]\nPort=COM1\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n");
}

// Counts the files renamed into a directory, the last step of every atomic save there.
class TRenameCounter {
 public:
  explicit TRenameCounter(const std::string& directory) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(::inotify_add_watch(fd_, directory.c_str(), IN_MOVED_TO), 0);
  }
  ~TRenameCounter() { ::close(fd_); }
  int Renames(const std::string& name) const {
    alignas(inotify_event) char buffer[4096];
    int count = 0;
    ssize_t got;
    while ((got = ::read(fd_, buffer, sizeof buffer)) > 0)
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && name == event->name) ++count;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    return count;
  }

 private:
  int fd_;
};

TEST_F(SerialSettingsTest, ASaveReplacesTheFileOnceAndNeverWritesIntoTheOldOne) {
  const std::string old = "[ComPort1]\nBaudRate=19200\n";
  dir.Write("RuzOzodArir.ini", old);
  ASSERT_EQ(::link(Path().c_str(), dir.File("old-inode.ini").c_str()), 0);
  const TRenameCounter counter(dir.Path());
  port.SaveSettings(stIniFile, Path());
  EXPECT_EQ(dir.Read("old-inode.ini"), old);
  EXPECT_EQ(Saved(), "[ComPort1]\nBaudRate=9600\nPort=COM1\nStopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n");
  EXPECT_EQ(counter.Renames("RuzOzodArir.ini"), 1) << "one save for all six keys";
}

TEST_F(SerialSettingsTest, ACustomRateSavesItsRate) {
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(128000);
  port.SaveSettings(stIniFile, Path());
  EXPECT_NE(Saved().find("BaudRate=Custom\nCustomBaudRate=128000\nStopBits=1\n"), std::string::npos) << Saved();
}

TEST_F(SerialSettingsTest, OtherSectionsAndUncoveredKeysSurviveASave) {
  dir.Write("RuzOzodArir.ini", "[Window]\nTop=5\n[ComPort1]\nbaudrate=19200\nBuffer.InputSize=2048\n");
  port.SaveSettings(stIniFile, Path());
  EXPECT_EQ(Saved(),
            "[Window]\nTop=5\n[ComPort1]\nbaudrate=9600\nBuffer.InputSize=2048\nPort=COM1\nStopBits=1\n"
            "DataBits=8\nParity=None\nFlowControl=None\n");
}

TEST_F(SerialSettingsTest, SavingWhereNothingCanBeWrittenIsCodeSixteen) {
  EXPECT_EQ(ErrorCode([&] { port.SaveSettings(stIniFile, dir.File("no/such/dir.ini")); }), 16);
  EXPECT_EQ(ErrorCode([&] { port.SaveSettings(stIniFile, dir.Path()); }), 16);
  EXPECT_EQ(ErrorCode([&] { port.SaveSettings(stRegistry, "Software\\x"); }), 16);
}

TEST_F(SerialSettingsTest, AMissingFileSectionOrKeyChangesNothing) {
  port.SetBaudRate(br19200);
  port.RestoreSettings(stIniFile, dir.File("absent.ini"));
  Restore("[Other]\nBaudRate=4800\n");
  Restore("[ComPort1]\nPort=COM3\n");
  EXPECT_EQ(port.BaudRate(), br19200);
  EXPECT_EQ(port.Port(), "COM3");
}

TEST_F(SerialSettingsTest, UnknownOrEmptyRatesRestoreTheFallback) {
  port.SetBaudRate(br19200);
  Restore("[ComPort1]\nBaudRate=921600\n");
  EXPECT_EQ(port.BaudRate(), br9600);
  port.SetBaudRate(br19200);
  Restore("[ComPort1]\nBaudRate=\n");
  EXPECT_EQ(port.BaudRate(), br9600);
  Restore("[ComPort1]\nBAUDRATE=19200\n");
  EXPECT_EQ(port.BaudRate(), br19200);
}

TEST_F(SerialSettingsTest, ACustomRateWithoutItsKeyRestoresNinetySixHundred) {
  port.SetCustomBaudRate(57600);
  Restore("[ComPort1]\nBaudRate=Custom\n");
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  Restore("[ComPort1]\nBaudRate=custom\nCustomBaudRate=0x3E80\n");
  EXPECT_EQ(port.CustomBaudRate(), 16000);
  port.SetCustomBaudRate(1234);
  Restore("[ComPort1]\nBaudRate=4800\nCustomBaudRate=300\n");
  EXPECT_EQ(port.CustomBaudRate(), 1234) << "read only for a custom rate";
}

TEST_F(SerialSettingsTest, FramingTextsRestoreThroughTheirConversions) {
  port.SetDataBits(dbSeven);
  Restore("[ComPort1]\nParity=even\nDataBits=9\nStopBits=1.5\n");
  EXPECT_EQ(port.Parity().Bits(), prEven);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOne5StopBits);
}

TEST_F(SerialSettingsTest, ACustomOrUnknownFlowControlLeavesTheFieldsAsTheyWere) {
  for (const char* text : {"Custom", "XON", ""}) {
    port.FlowControl().SetFlowControl(fcHardware);
    Restore(std::string("[ComPort1]\nFlowControl=") + text + "\n");
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware) << text;
  }
  Restore("[ComPort1]\nFlowControl=software\n");
  EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
}

TEST_F(SerialSettingsTest, TheSummaryIsRestoredBeforeTheFlowControlKeysOverrideIt) {
  Restore("[ComPort1]\nFlowControl=Hardware\nFlowControl.ControlRTS=Enable\n",
          StoredProp(sgBasic) | StoredProp(sgFlowControl));
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsEnable);
  EXPECT_TRUE(port.FlowControl().OutCTSFlow());
}

TEST_F(SerialSettingsTest, AllGroupsRoundTrip) {
  const TStoredProps all = StoredProp(sgBasic) | StoredProp(sgFlowControl) | StoredProp(sgBuffer) |
                           StoredProp(sgTimeouts) | StoredProp(sgParity) | StoredProp(sgOthers);
  port.SetSavedGroups(all);
  port.SetPort("COM12");
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  port.SetStopBits(sbTwoStopBits);
  port.SetDataBits(dbSeven);
  port.SetEventChar(10);
  port.SetDiscardNull(true);
  port.Parity().SetBits(prOdd);
  port.Parity().SetCheck(true);
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  port.Buffer().SetInputSize(4096);
  port.Buffer().SetOutputSize(512);
  port.Timeouts().SetReadInterval(50);
  port.Timeouts().SetReadTotalConstant(7);
  port.Timeouts().SetReadTotalMultiplier(3);
  port.Timeouts().SetWriteTotalConstant(0);
  port.Timeouts().SetWriteTotalMultiplier(0);
  TComFlowControl& flow = port.FlowControl();
  flow.SetControlRTS(rtsToggle);
  flow.SetControlDTR(dtrEnable);
  flow.SetDSRSensitivity(true);
  flow.SetOutCTSFlow(true);
  flow.SetOutDSRFlow(true);
  flow.SetTxContinueOnXoff(true);
  flow.SetXonXoffIn(true);
  flow.SetXonXoffOut(false);
  flow.SetXonChar(1);
  flow.SetXoffChar('S');
  port.SaveSettings(stIniFile, Path());
  EXPECT_NE(Saved().find("Timeouts.ReadInterval=50\nTimeouts.ReadTotalConstant=7\n"), std::string::npos);
  EXPECT_NE(Saved().find("EventChar=#10\nDiscardNull=Yes\nParity.Check=Yes\n"), std::string::npos);

  TComPort copy;
  copy.setObjectName("ComPort1");
  copy.SetSavedGroups(all);
  copy.RestoreSettings(stIniFile, Path());
  EXPECT_EQ(copy.Port(), "COM12");
  EXPECT_EQ(copy.BaudRate(), brCustom);
  EXPECT_EQ(copy.CustomBaudRate(), 250000);
  EXPECT_EQ(copy.StopBits(), sbTwoStopBits);
  EXPECT_EQ(copy.DataBits(), dbSeven);
  EXPECT_EQ(copy.EventChar(), 10);
  EXPECT_TRUE(copy.DiscardNull());
  EXPECT_EQ(copy.Parity().Bits(), prOdd);
  EXPECT_TRUE(copy.Parity().Check() && copy.Parity().Replace());
  EXPECT_EQ(copy.Parity().ReplaceChar(), '?');
  EXPECT_EQ(copy.Buffer().InputSize(), 4096);
  EXPECT_EQ(copy.Buffer().OutputSize(), 512);
  EXPECT_EQ(copy.Timeouts().ReadInterval(), 50);
  EXPECT_EQ(copy.Timeouts().ReadTotalConstant(), 7);
  EXPECT_EQ(copy.Timeouts().ReadTotalMultiplier(), 3);
  EXPECT_EQ(copy.Timeouts().WriteTotalConstant(), 0);
  EXPECT_EQ(copy.Timeouts().WriteTotalMultiplier(), 0);
  const TComFlowControl& restored = copy.FlowControl();
  EXPECT_EQ(restored.ControlRTS(), rtsToggle);
  EXPECT_EQ(restored.ControlDTR(), dtrEnable);
  EXPECT_TRUE(restored.DSRSensitivity() && restored.OutCTSFlow() && restored.OutDSRFlow());
  EXPECT_TRUE(restored.TxContinueOnXoff() && restored.XonXoffIn());
  EXPECT_FALSE(restored.XonXoffOut());
  EXPECT_EQ(restored.XonChar(), 1);
  EXPECT_EQ(restored.XoffChar(), 'S');
}

TEST_F(SerialSettingsTest, AFailedRestoreIsCodeSeventeenAndStillResumes) {
  EXPECT_EQ(ErrorCode([&] { port.RestoreSettings(stIniFile, dir.Path()); }), 17);
  EXPECT_EQ(ErrorCode([&] { port.RestoreSettings(stRegistry, "x"); }), 17);
  Restore("[ComPort1]\nBaudRate=4800\n");
  EXPECT_EQ(port.BaudRate(), br4800);
}
