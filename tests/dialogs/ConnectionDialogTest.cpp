#include "ConnectionUnit.h"
#include "DialogDriver.h"
#include "Global.h"
#include "MessageBox.h"
#include "PtyPorts.h"
#include "RadioGroup.h"
#include "SerialPortSetup.h"
#include "TempDir.h"
#include "okno.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {
const char kBoxText[] = "Selected COM port does not exist or is occupied by other software";

// Counts the message boxes the operator would see.
class TBoxCounter {
 public:
  TBoxCounter() : saved_(MessageBoxHook) {
    MessageBoxHook = [this](const QString& text, const QString& title, TMessageIcon icon) {
      EXPECT_EQ(text, kBoxText);
      EXPECT_EQ(title, "VU232v9");
      EXPECT_EQ(icon, TMessageIcon::Exclamation);
      ++Count;
    };
  }
  ~TBoxCounter() { MessageBoxHook = saved_; }
  int Count = 0;

 private:
  decltype(MessageBoxHook) saved_;
};

// Records the link states posted to the main window as they are handled.
class TStateRecorder : public QObject {
 public:
  std::vector<intptr_t> States;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == static_cast<QEvent::Type>(WM_PORT_STATE))
      States.push_back(static_cast<const TPortStateEvent*>(event)->wParam);
    return false;
  }
};

// A loopback TCP port that nobody listens on, so a connection attempt is refused.
int UnusedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

void ClickRadio(TRadioGroup& group, int position) {
  const QList<QRadioButton*> buttons = group.findChildren<QRadioButton*>();
  ASSERT_GT(buttons.size(), position);
  buttons[position]->click();
}

// The dialog on its own, with a "Connect" that only counts.
class ConnectionDialogTest : public ::testing::Test {
 protected:
  ConnectionDialogTest() : dialog(port, [this] { ++connectClicks; }) {
    ports.Add("COM4");
    ConnectionSettings = TConnectionSettings{};
    ConnectionSettings.Host = "127.0.0.1";
    ConnectionSettings.Port = 1001;
    SetupAccepted = false;
  }

  TPtyPorts ports;
  TComPort port;
  int connectClicks = 0;
  TConnectionForm dialog;
};

// The dialog as the program sets it up, beside the main window.
class ConnectionMenuTest : public ::testing::Test {
 protected:
  ConnectionMenuTest() {
    for (const char* name : {"COM1", "COM4", "COM12"}) ports.Add(name);
    SetExecutableDirectory(dir.Path());
    ConnectionSettings = TConnectionSettings{};
    form = std::make_unique<TForm1>();
    ConnectionSettings.Host = "127.0.0.1";
    dialog = std::make_unique<TConnectionForm>(form->ComPort1, [this] { form->btnOpenPortClick(); }, form.get());
    form->SetConnectionForm(dialog.get());
  }
  ~ConnectionMenuTest() override {
    dialog.reset();
    form.reset();
    SetExecutableDirectory("");
  }

  void InMenuDialog(std::function<void(TConnectionForm&)> action) {
    WhenShown<TConnectionForm>(std::move(action));
    form->Rs2321Click();
  }

  TPtyPorts ports;
  TTempDir dir;
  TBoxCounter boxes;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<TConnectionForm> dialog;
};
}  // namespace

TEST_F(ConnectionDialogTest, HasTheControlsOfTheForm) {
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Ustawienia połączenia"));
  EXPECT_EQ(dialog.size(), QSize(225, 209));
  EXPECT_EQ(dialog.pos(), QPoint(465, 238));
  EXPECT_EQ(dialog.rgConnection->Items(), QStringList({"Serial port", "Ethernet"}));
  EXPECT_EQ(dialog.gbEthernet->title(), QString::fromUtf8(" Ustawienia połączenia ethernetowego: "));
  EXPECT_EQ(dialog.gbEthernet->geometry(), dialog.gbSerialPort->geometry());
  EXPECT_EQ(dialog.EditIP->maxLength(), 15);
  EXPECT_EQ(dialog.EditPort->maxLength(), 5);
  EXPECT_EQ(dialog.rgEthProtocol->title(), QString::fromUtf8("Protokół"));
  EXPECT_EQ(dialog.cbBaudRate->count(), 20);
  EXPECT_EQ(dialog.cbBaudRate->itemText(3), "134.5");
  EXPECT_EQ(dialog.cbBaudRate->itemText(19), "921600");
  EXPECT_EQ(dialog.cbBaudRate->currentText(), "4800");
  EXPECT_EQ(dialog.sbApply->text(), "Apply");
  EXPECT_EQ(dialog.sbApply->toolTip(), "Apply settings");
}

TEST_F(ConnectionDialogTest, TheUpDownStepsTheComNumberWithinItsRange) {
  dialog.UpDownCOM->Step(1);
  EXPECT_EQ(dialog.EditCOM->text(), "2");
  dialog.EditCOM->setText("255");
  dialog.UpDownCOM->Step(1);
  EXPECT_EQ(dialog.EditCOM->text(), "255");
  dialog.EditCOM->setText("1");
  dialog.UpDownCOM->Step(-1);
  dialog.EditCOM->setText("x");
  dialog.UpDownCOM->Step(1);
  EXPECT_EQ(dialog.EditCOM->text(), "2") << "a text that is no number steps from the last position";
}

TEST_F(ConnectionDialogTest, ShowingSelectsTheKindAndItsGroupBox) {
  ConnectionSettings.Kind = 1;
  ConnectionSettings.Protocol = 1;
  ConnectionSettings.Port = 1001;
  dialog.show();
  EXPECT_EQ(dialog.rgConnection->ItemIndex(), 1);
  EXPECT_TRUE(dialog.gbEthernet->isVisible());
  EXPECT_FALSE(dialog.gbSerialPort->isVisible());
  EXPECT_EQ(dialog.rgEthProtocol->ItemIndex(), 1);
  EXPECT_EQ(dialog.EditIP->text(), "127.0.0.1");
  EXPECT_EQ(dialog.EditPort->text(), "1001");

  ClickRadio(*dialog.rgConnection, 0);
  EXPECT_TRUE(dialog.gbSerialPort->isVisible());
  EXPECT_FALSE(dialog.gbEthernet->isVisible());
  dialog.hide();

  ConnectionSettings.Kind = 0;
  dialog.show();
  EXPECT_TRUE(dialog.gbSerialPort->isVisible());
  EXPECT_FALSE(dialog.gbEthernet->isVisible());
  dialog.hide();
}

TEST_F(ConnectionDialogTest, ShowsTheComNumberAndAListedRateOr4800) {
  port.SetPort("COM7");
  port.SetBaudRate(br19200);
  dialog.FormShow();
  EXPECT_EQ(dialog.EditCOM->text(), "7");
  EXPECT_EQ(dialog.cbBaudRate->currentText(), "19200");
  for (const TBaudRate unlisted : {br14400, brCustom, br56000, br128000, br256000}) {
    port.SetBaudRate(unlisted);
    dialog.FormShow();
    EXPECT_EQ(dialog.cbBaudRate->currentIndex(), 10) << BaudRateText(unlisted);
  }
  port.SetPort("COM12");
  dialog.GetCOMPortSettings();
  EXPECT_EQ(dialog.EditCOM->text(), "12");
}

TEST_F(ConnectionDialogTest, ThePortTextIsReadAsAnIntegerOr1001) {
  const std::pair<const char*, int32_t> cases[] = {
      {"00000", 0}, {"99999", 99999}, {"abc", 1001}, {"", 1001}, {"12 ", 1001}, {" 12", 12}, {"-5", -5}, {"$1F", 31}};
  for (const auto& [text, expected] : cases) {
    dialog.EditPort->setText(QString::fromLatin1(text));
    dialog.sbApplyClick();
    EXPECT_EQ(ConnectionSettings.Port, expected) << '"' << text << '"';
  }
  EXPECT_EQ(connectClicks, 8);
}

TEST_F(ConnectionDialogTest, LongValuesSurviveShowAndApplyWhileTypingStaysLimited) {
  ConnectionSettings.Kind = 1;
  ConnectionSettings.Host = "scale-01.shop.local";
  ConnectionSettings.Port = 123456;
  dialog.show();
  EXPECT_EQ(dialog.EditIP->text(), "scale-01.shop.local");
  EXPECT_EQ(dialog.EditPort->text(), "123456");
  dialog.sbApply->click();
  EXPECT_EQ(ConnectionSettings.Host, "scale-01.shop.local");
  EXPECT_EQ(ConnectionSettings.Port, 123456);

  dialog.show();
  dialog.EditIP->setCursorPosition(8);
  QTest::keyClick(dialog.EditIP, Qt::Key_Backspace);
  QTest::keyClicks(dialog.EditIP, "2");
  dialog.sbApply->click();
  EXPECT_EQ(ConnectionSettings.Host, "scale-02.shop.local") << "a character of a long value can be replaced";
  EXPECT_EQ(ConnectionSettings.Port, 123456);

  ConnectionSettings.Host = "127.0.0.1";
  ConnectionSettings.Port = 1001;
  dialog.show();
  dialog.EditIP->clear();
  QTest::keyClicks(dialog.EditIP, "scale-01.shop.local");
  EXPECT_EQ(dialog.EditIP->text(), "scale-01.shop.l");
  dialog.EditPort->clear();
  QTest::keyClicks(dialog.EditPort, "123456");
  EXPECT_EQ(dialog.EditPort->text(), "12345");
  dialog.hide();
}

TEST_F(ConnectionDialogTest, ApplyStoresEveryFieldWhateverTheKind) {
  dialog.show();
  ClickRadio(*dialog.rgConnection, 1);
  dialog.EditIP->setText("127.0.0.2");
  ClickRadio(*dialog.rgEthProtocol, 1);
  dialog.EditCOM->setText("12");
  dialog.cbBaudRate->setCurrentText("38400");
  dialog.sbApply->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(connectClicks, 1);
  EXPECT_EQ(ConnectionSettings.Kind, 1);
  EXPECT_EQ(ConnectionSettings.Protocol, 1);
  EXPECT_EQ(ConnectionSettings.Host, "127.0.0.2");
  EXPECT_EQ(port.Port(), "COM12");
  EXPECT_EQ(port.BaudRate(), br38400);

  dialog.EditCOM->setText("x");
  dialog.sbApplyClick();
  EXPECT_EQ(port.Port(), "COMx");
}

TEST_F(ConnectionDialogTest, RatesTheSerialPortDoesNotKnowBecome9600) {
  const QStringList known = {"110", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
  for (int position = 0; position < dialog.cbBaudRate->count(); ++position) {
    dialog.cbBaudRate->setCurrentIndex(position);
    const QString text = dialog.cbBaudRate->currentText();
    dialog.sbApplyClick();
    const std::string expected = known.contains(text) ? text.toStdString() : "9600";
    EXPECT_EQ(BaudRateText(port.BaudRate()), expected) << text.toStdString();
  }
  dialog.cbBaudRate->setCurrentText("921600");
  dialog.sbApplyClick();
  dialog.FormShow();
  EXPECT_EQ(dialog.cbBaudRate->currentText(), "9600");
}

TEST_F(ConnectionDialogTest, AdvancedOptionsAcceptedShowTheNewPortAndRateAtOnce) {
  WhenShown<TPortSetupFrm>([](TPortSetupFrm& setup) {
    Choose(*setup.Combo1, "COM4");
    Choose(*setup.Combo2, "38400");
    setup.sbApply->click();
  });
  dialog.sbSerialAdvanced->click();
  EXPECT_EQ(dialog.EditCOM->text(), "4");
  EXPECT_EQ(dialog.cbBaudRate->currentText(), "38400");
  EXPECT_EQ(connectClicks, 0);
}

TEST_F(ConnectionDialogTest, AdvancedOptionsCancelledLeaveTheEdits) {
  dialog.EditCOM->setText("9");
  WhenShown<TPortSetupFrm>([](TPortSetupFrm& setup) {
    Choose(*setup.Combo1, "COM4");
    setup.sbCancel->click();
  });
  dialog.sbSerialAdvancedClick();
  EXPECT_EQ(dialog.EditCOM->text(), "9");
  EXPECT_EQ(port.Port(), "COM1");
}

TEST_F(ConnectionDialogTest, AdvancedOptionsErrorsAreShownAndTheFlagStillRefreshes) {
  TTempDir notADirectory;
  notADirectory.Write("file", "");
  setenv("SCALEDB_PORTS_DIR", notADirectory.File("file").c_str(), 1);
  std::vector<std::string> shown;
  const auto savedDisplay = ComPortDefaultErrorDisplay;
  ComPortDefaultErrorDisplay = [&shown](const std::exception& error) { shown.emplace_back(error.what()); };
  SetupAccepted = true;
  dialog.EditCOM->setText("9");
  EXPECT_NO_THROW(dialog.sbSerialAdvancedClick());
  ComPortDefaultErrorDisplay = savedDisplay;
  EXPECT_EQ(shown, std::vector<std::string>{"Registry error (win error code: 20)"}) << "the port list that could not be read is said";
  EXPECT_EQ(dialog.EditCOM->text(), "1") << "the flag of the last run still asks for a refresh";
}

TEST_F(ConnectionMenuTest, ApplyWithTheSerialLinkOpensTheChosenPort) {
  form->btnOpenPortClick();
  ASSERT_EQ(form->PortState, 2);
  InMenuDialog([this](TConnectionForm& shown) {
    EXPECT_FALSE(form->ComPort1.Connected()) << "the open link is closed first";
    EXPECT_EQ(form->PortState, 0);
    shown.EditCOM->setText("4");
    shown.cbBaudRate->setCurrentText("19200");
    shown.sbApply->click();
  });
  EXPECT_EQ(boxes.Count, 0);
  EXPECT_EQ(form->PortState, 2);
  EXPECT_TRUE(form->ComPort1.Connected());
  EXPECT_EQ(form->ComPort1.Port(), "COM4");
  EXPECT_EQ(form->LabelConnection->text(), "COM4 19200bps connected");
}

TEST_F(ConnectionMenuTest, AFailedOpenThroughApplyShowsTheBoxTwice) {
  InMenuDialog([](TConnectionForm& shown) {
    shown.EditCOM->setText("x");
    shown.sbApply->click();
  });
  EXPECT_EQ(boxes.Count, 2);
  EXPECT_EQ(form->ComPort1.Port(), "COMx");
  EXPECT_EQ(form->PortState, 0);
  EXPECT_EQ(form->LabelConnection->text(), "COMx 9600bps disconnected");
}

TEST_F(ConnectionMenuTest, ClosingByTheFrameClicksNothing) {
  form->ComPort1.SetPort("COM3");
  InMenuDialog([](TConnectionForm& shown) { shown.close(); });
  EXPECT_EQ(boxes.Count, 1) << "only the menu item's own retry opens";
}

TEST_F(ConnectionMenuTest, CancelReopensWithTheOldSettingsAndForgetsTheEdits) {
  InMenuDialog([](TConnectionForm& shown) {
    EXPECT_EQ(shown.EditCOM->text(), "1");
    ClickRadio(*shown.rgConnection, 1);
    shown.EditCOM->setText("4");
    shown.cbBaudRate->setCurrentText("38400");
    shown.EditPort->setText("77");
    shown.sbCancel->click();
  });
  EXPECT_EQ(boxes.Count, 0);
  EXPECT_EQ(ConnectionSettings.Kind, 0);
  EXPECT_EQ(ConnectionSettings.Port, 1001);
  EXPECT_EQ(form->ComPort1.Port(), "COM1");
  EXPECT_EQ(form->ComPort1.BaudRate(), br9600);
  EXPECT_TRUE(form->ComPort1.Connected());
  EXPECT_EQ(form->PortState, 2);

  InMenuDialog([](TConnectionForm& shown) {
    EXPECT_EQ(shown.rgConnection->ItemIndex(), 0);
    EXPECT_TRUE(shown.gbSerialPort->isVisible());
    EXPECT_EQ(shown.EditCOM->text(), "1");
    EXPECT_EQ(shown.cbBaudRate->currentText(), "9600");
    EXPECT_EQ(shown.EditPort->text(), "1001");
    shown.sbCancel->click();
  });
}

TEST_F(ConnectionMenuTest, ApplyWithEthernetTogglesTwice) {
  ConnectionSettings.Kind = 1;
  ConnectionSettings.Protocol = 0;
  ConnectionSettings.Port = UnusedLoopbackPort();
  TStateRecorder recorder;
  form->installEventFilter(&recorder);

  InMenuDialog([](TConnectionForm& shown) {
    ASSERT_EQ(shown.EditIP->text(), "127.0.0.1");
    shown.sbApply->click();
  });
  QCoreApplication::sendPostedEvents(form.get());
  form->removeEventFilter(&recorder);
  EXPECT_EQ(recorder.States, (std::vector<intptr_t>{1, 0}))
      << "the dialog's click starts connecting; the menu item, still reading 0, toggles again";
  EXPECT_EQ(form->PortState, 0);
}

TEST_F(ConnectionMenuTest, SettingsReachTheFilesAtANormalCloseOnly) {
  InMenuDialog([](TConnectionForm& shown) {
    WhenShown<TPortSetupFrm>([](TPortSetupFrm& setup) {
      Choose(*setup.Combo1, "COM12");
      Choose(*setup.Combo2, "19200");
      Choose(*setup.Combo4, "2");
      setup.sbApply->click();
    });
    shown.sbSerialAdvanced->click();
    shown.EditIP->setText("127.0.0.1");
    shown.EditPort->setText("4321");
    ClickRadio(*shown.rgEthProtocol, 1);
    shown.sbApply->click();
  });
  EXPECT_EQ(boxes.Count, 0);
  EXPECT_EQ(form->ComPort1.Port(), "COM12");
  const std::string configBefore = dir.Read("config.xml");
  EXPECT_EQ(configBefore.find("4321"), std::string::npos);
  EXPECT_EQ(dir.Read("RuzOzodArir.ini"), "");

  form->FormClose();
  const std::string config = dir.Read("config.xml");
  EXPECT_NE(config.find("<Port>4321</Port>"), std::string::npos) << config;
  EXPECT_NE(config.find("<Protocol>UDP</Protocol>"), std::string::npos) << config;
  EXPECT_NE(config.find("<Host>127.0.0.1</Host>"), std::string::npos) << config;
  EXPECT_NE(config.find("<Kind>COM</Kind>"), std::string::npos) << config;
  const std::string ini = dir.Read("RuzOzodArir.ini");
  EXPECT_NE(ini.find("Port=COM12"), std::string::npos) << ini;
  EXPECT_NE(ini.find("BaudRate=19200"), std::string::npos) << ini;
  EXPECT_NE(ini.find("StopBits=2"), std::string::npos) << ini;
  EXPECT_FALSE(form->ComPort1.Connected());
}
