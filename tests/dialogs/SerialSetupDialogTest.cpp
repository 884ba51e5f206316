#include "DialogDriver.h"
#include "PtyPorts.h"
#include "SerialPortSetup.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <memory>
#include <vector>

namespace {
QStringList Items(const QComboBox& combo) {
  QStringList items;
  for (int i = 0; i < combo.count(); ++i) items << combo.itemText(i);
  return items;
}

std::vector<std::string> Texts(const TPortSetupFrm& dialog) {
  std::vector<std::string> texts;
  for (const TPortComboBox* combo : dialog.Combos()) texts.push_back(combo->Text());
  return texts;
}

// A pty master reads the terminal settings of its slave.
unsigned DeviceSpeed(int master) {
  termios2 settings{};
  ioctl(master, TCGETS2, &settings);
  return settings.c_ospeed;
}

// Tells how often an open port's device was given all settings, and what speed it was given
// by any other route.
class TWatchedPort : public TComPort {
 public:
  int Master = -1;
  int AllApplied = 0;
  std::vector<unsigned> SpeedsOutsideApplyAll;

  void ApplyAllSettings() override {
    ++AllApplied;
    applyingAll_ = true;
    TComPort::ApplyAllSettings();
    applyingAll_ = false;
  }
  void ApplyLineSettings() override {
    TComPort::ApplyLineSettings();
    if (Connected() && !applyingAll_) SpeedsOutsideApplyAll.push_back(DeviceSpeed(Master));
  }

 private:
  bool applyingAll_ = false;
};

class SerialSetupDialogTest : public ::testing::Test {
 protected:
  SerialSetupDialogTest() {
    ports.Add("COM1");
    ports.Add("COM3");
    SetupAccepted = false;
  }

  // Opens the dialog on `port`, lets `action` work in it, and returns once it has closed.
  void Run(TCustomComPort& on, std::function<void(TPortSetupFrm&)> action) {
    WhenShown<TPortSetupFrm>(std::move(action));
    RunSetupDialog(on);
  }

  TPtyPorts ports;
  TComPort port;
};
}  // namespace

TEST_F(SerialSetupDialogTest, ShowsThePortsAndTheCurrentSettings) {
  Run(port, [](TPortSetupFrm& dialog) {
    EXPECT_TRUE(Items(*dialog.Combo1).contains("COM1"));
    EXPECT_TRUE(Items(*dialog.Combo1).contains("COM3"));
    EXPECT_EQ(Texts(dialog), (std::vector<std::string>{"COM1", "9600", "8", "1", "None", "None"}));
    dialog.sbCancel->click();
  });
}

TEST_F(SerialSetupDialogTest, HasTheCaptionsHintsAndLayoutOfTheForm) {
  TPortSetupFrm dialog;
  EXPECT_EQ(dialog.windowTitle(), "RS-232 settings");
  EXPECT_EQ(dialog.size(), QSize(231, 216));
  EXPECT_EQ(dialog.GroupBox1->title(), " Settings: ");
  EXPECT_EQ(dialog.GroupBox1->geometry(), QRect(8, 8, 217, 169));
  EXPECT_EQ(dialog.Label1->text(), "Port:");
  EXPECT_EQ(dialog.Label6->text(), "Flow control:");
  const auto combos = dialog.Combos();
  const TComProperty kinds[] = {cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(combos[i]->objectName(), QStringLiteral("Combo%1").arg(i + 1));
    EXPECT_EQ(combos[i]->ComProperty(), kinds[i]);
    if (i < 5) {
      EXPECT_EQ(combos[i]->nextInFocusChain(), combos[i + 1]);
    }
  }
  EXPECT_EQ(dialog.sbApply->text(), "Zastosuj");
  EXPECT_EQ(dialog.sbApply->toolTip(), "Apply settings");
  EXPECT_EQ(dialog.sbCancel->text(), "Anuluj");
  EXPECT_EQ(dialog.sbCancel->toolTip(), "Cancel settings");
  EXPECT_TRUE(dialog.BitBtnApply->isHidden());
  EXPECT_TRUE(dialog.BitBtnCancel->isHidden());
}

TEST_F(SerialSetupDialogTest, EachListHoldsTheTextsOfItsSetting) {
  TPortSetupFrm dialog;
  EXPECT_EQ(Items(*dialog.Combo2),
            QStringList({"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                         "56000", "57600", "115200", "128000", "256000"}));
  EXPECT_EQ(Items(*dialog.Combo3), QStringList({"5", "6", "7", "8"}));
  EXPECT_EQ(Items(*dialog.Combo4), QStringList({"1", "1.5", "2"}));
  EXPECT_EQ(Items(*dialog.Combo5), QStringList({"None", "Odd", "Even", "Mark", "Space"}));
  EXPECT_EQ(Items(*dialog.Combo6), QStringList({"Hardware", "Software", "None", "Custom"}));
  // Without a port the first item stands selected.
  EXPECT_EQ(dialog.Combo2->Text(), "Custom");
  EXPECT_EQ(dialog.Combo6->Text(), "Hardware");
}

TEST_F(SerialSetupDialogTest, ZastosujWritesTheChosenSettings) {
  Run(port, [](TPortSetupFrm& dialog) {
    Choose(*dialog.Combo1, "COM3");
    Choose(*dialog.Combo2, "19200");
    Choose(*dialog.Combo3, "7");
    Choose(*dialog.Combo4, "2");
    Choose(*dialog.Combo5, "Even");
    Choose(*dialog.Combo6, "Hardware");
    dialog.sbApply->click();
  });
  EXPECT_TRUE(SetupAccepted);
  EXPECT_EQ(port.Port(), "COM3");
  EXPECT_EQ(port.BaudRate(), br19200);
  EXPECT_EQ(port.DataBits(), dbSeven);
  EXPECT_EQ(port.StopBits(), sbTwoStopBits);
  EXPECT_EQ(port.Parity().Bits(), prEven);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
}

TEST_F(SerialSetupDialogTest, AnulujLeavesThePortUnchanged) {
  Run(port, [](TPortSetupFrm& dialog) {
    Choose(*dialog.Combo1, "COM3");
    Choose(*dialog.Combo2, "115200");
    dialog.sbCancel->click();
  });
  EXPECT_FALSE(SetupAccepted);
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
}

TEST_F(SerialSetupDialogTest, ClosingByTheFrameKeepsTheFlagOfTheLastRun) {
  Run(port, [](TPortSetupFrm& dialog) { dialog.sbApply->click(); });
  EXPECT_TRUE(SetupAccepted);
  Run(port, [](TPortSetupFrm& dialog) {
    Choose(*dialog.Combo2, "300");
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible()) << "the form has no cancel key";
    dialog.close();
  });
  EXPECT_TRUE(SetupAccepted);
  EXPECT_EQ(port.BaudRate(), br9600);
  Run(port, [](TPortSetupFrm& dialog) { dialog.sbCancel->click(); });
  EXPECT_FALSE(SetupAccepted);
}

TEST_F(SerialSetupDialogTest, ZastosujWithoutChangesWritesTheSameValues) {
  port.SetCustomBaudRate(31250);
  port.FlowControl().SetXonChar(1);
  Run(port, [](TPortSetupFrm& dialog) { dialog.sbApply->click(); });
  EXPECT_TRUE(SetupAccepted);
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 31250);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.FlowControl().XonChar(), 1);
}

TEST_F(SerialSetupDialogTest, AnUnlistedPortShowsNoSelectionAndIsWrittenEmpty) {
  port.SetPort("COM200");
  Run(port, [](TPortSetupFrm& dialog) {
    EXPECT_EQ(dialog.Combo1->currentIndex(), -1);
    EXPECT_EQ(dialog.Combo1->Text(), "");
    dialog.sbApply->click();
  });
  EXPECT_EQ(port.Port(), "");
  try {
    port.OpenPort();
    FAIL() << "a port without a name opened";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Code(), 1);
  }
}

TEST_F(SerialSetupDialogTest, CustomRateKeepsTheCustomValue) {
  port.SetCustomBaudRate(31250);
  Run(port, [](TPortSetupFrm& dialog) {
    Choose(*dialog.Combo2, "Custom");
    dialog.sbApply->click();
  });
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 31250);
}

TEST_F(SerialSetupDialogTest, CustomFlowControlLeavesEveryFlowField) {
  TComFlowControl& flow = port.FlowControl();
  flow.SetOutCTSFlow(true);
  flow.SetControlDTR(dtrEnable);
  flow.SetXonXoffIn(true);
  const TComFlowControl before(flow);
  Run(port, [](TPortSetupFrm& dialog) {
    EXPECT_EQ(dialog.Combo6->Text(), "Custom");
    Choose(*dialog.Combo6, "Custom");
    dialog.sbApply->click();
  });
  EXPECT_EQ(flow.OutCTSFlow(), before.OutCTSFlow());
  EXPECT_EQ(flow.OutDSRFlow(), before.OutDSRFlow());
  EXPECT_EQ(flow.ControlDTR(), before.ControlDTR());
  EXPECT_EQ(flow.ControlRTS(), before.ControlRTS());
  EXPECT_EQ(flow.XonXoffIn(), before.XonXoffIn());
  EXPECT_EQ(flow.XonXoffOut(), before.XonXoffOut());
}

TEST_F(SerialSetupDialogTest, AnOpenPortIsReconfiguredOnceAtTheEnd) {
  TWatchedPort watched;
  watched.Master = ports.Master("COM1");
  watched.OpenPort();
  ASSERT_EQ(DeviceSpeed(watched.Master), 9600u);
  watched.AllApplied = 0;
  Run(watched, [](TPortSetupFrm& dialog) {
    Choose(*dialog.Combo2, "19200");
    Choose(*dialog.Combo4, "2");
    dialog.sbApply->click();
  });
  EXPECT_EQ(watched.AllApplied, 1);
  EXPECT_EQ(DeviceSpeed(watched.Master), 19200u);
  for (const unsigned speed : watched.SpeedsOutsideApplyAll) EXPECT_EQ(speed, 9600u);
  EXPECT_TRUE(watched.Connected());
  watched.ClosePort();
}

TEST_F(SerialSetupDialogTest, APortRemovedWhileOpenIsStillWrittenAndFailsAtTheNextOpen) {
  Run(port, [this](TPortSetupFrm& dialog) {
    ports.Remove("COM3");
    Choose(*dialog.Combo1, "COM3");
    dialog.sbApply->click();
  });
  EXPECT_EQ(port.Port(), "COM3");
  try {
    port.OpenPort();
    FAIL() << "a removed port opened";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Code(), 1);
  }
}

TEST_F(SerialSetupDialogTest, AFailedReopenIsPassedOnOnceTheDialogIsGone) {
  port.OpenPort();
  WhenShown<TPortSetupFrm>([this](TPortSetupFrm& dialog) {
    ports.Remove("COM3");
    Choose(*dialog.Combo1, "COM3");
    Choose(*dialog.Combo2, "38400");
    dialog.sbApply->click();
  });
  EXPECT_THROW(RunSetupDialog(port), EComPort);
  EXPECT_TRUE(SetupAccepted);
  EXPECT_EQ(port.Port(), "COM3");
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.BaudRate(), br9600) << "the writes after the failed one do not run";
  for (QWidget* window : QApplication::topLevelWidgets()) EXPECT_EQ(dynamic_cast<TPortSetupFrm*>(window), nullptr);
}

TEST_F(SerialSetupDialogTest, AnUnreadablePortListOpensNothing) {
  TTempDir notADirectory;
  notADirectory.Write("file", "");
  setenv("SCALEDB_PORTS_DIR", notADirectory.File("file").c_str(), 1);
  SetupAccepted = true;
  try {
    RunSetupDialog(port);
    FAIL() << "the dialog ran without a port list";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Code(), 23);
  }
  EXPECT_TRUE(SetupAccepted);
  EXPECT_EQ(port.Port(), "COM1");
}

class PortComboBoxTest : public SerialSetupDialogTest {
 protected:
  TPortComboBox combo;
};

TEST_F(PortComboBoxTest, TextSelectsRegardlessOfCaseAndIgnoresUnknownTexts) {
  combo.SetComProperty(cpParity);
  combo.SetText("mArK");
  EXPECT_EQ(combo.Text(), "Mark");
  combo.SetText("Sometimes");
  EXPECT_EQ(combo.Text(), "Mark");
  combo.SetComProperty(cpNone);
  EXPECT_EQ(combo.count(), 0);
  EXPECT_EQ(combo.Text(), "");
}

TEST_F(PortComboBoxTest, TheOperatorsChoiceWaitsForApplyUnlessAutoApplyIsOn) {
  combo.SetComProperty(cpDataBits);
  combo.SetComPort(&port);
  EXPECT_EQ(combo.Text(), "8");
  combo.setFocus();
  QTest::keyClick(&combo, Qt::Key_Up);
  EXPECT_EQ(combo.Text(), "7");
  EXPECT_EQ(port.DataBits(), dbEight);
  combo.ApplyToPort();
  EXPECT_EQ(port.DataBits(), dbSeven);

  int changes = 0;
  combo.OnChange = [&] { ++changes; };
  combo.SetAutoApply(true);
  QTest::keyClick(&combo, Qt::Key_Up);
  EXPECT_EQ(port.DataBits(), dbSix);
  EXPECT_EQ(changes, 1);
}

TEST_F(PortComboBoxTest, AValueNotListedKeepsThePendingOne) {
  combo.SetComProperty(cpPort);
  combo.SetComPort(&port);
  EXPECT_EQ(combo.Text(), "COM1");
  port.SetPort("COM77");
  combo.UpdateFromPort();
  EXPECT_EQ(combo.currentIndex(), -1);
  combo.ApplyToPort();
  EXPECT_EQ(port.Port(), "COM1");
}

TEST_F(PortComboBoxTest, ADestroyedPortIsForgotten) {
  auto doomed = std::make_unique<TComPort>();
  doomed->SetStopBits(sbTwoStopBits);
  combo.SetComProperty(cpStopBits);
  combo.SetComPort(doomed.get());
  EXPECT_EQ(combo.Text(), "2");
  doomed.reset();
  EXPECT_EQ(combo.ComPort(), nullptr);
  EXPECT_EQ(combo.Text(), "1");
  combo.ApplyToPort();
  combo.UpdateFromPort();
}
