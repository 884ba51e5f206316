#include "Global.h"
#include "MessageBox.h"
#include "PtyLink.h"
#include "TempDir.h"
#include "okno.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct TShownBox {
  QString Text, Title;
  TMessageIcon Icon;
};

// The main window with "ports/" beside its (test) executable directory.
class MainWindowSerialTest : public ::testing::Test {
 protected:
  MainWindowSerialTest() {
    unsetenv("SCALEDB_PORTS_DIR");
    SetExecutableDirectory(dir.Path());
    mkdir(dir.File("ports").c_str(), 0755);
    ConnectionSettings = TConnectionSettings{};
    MessageBoxHook = [this](const QString& text, const QString& title, TMessageIcon icon) {
      boxes.push_back({text, title, icon});
    };
  }
  ~MainWindowSerialTest() override {
    form.reset();
    MessageBoxHook = nullptr;
    SetExecutableDirectory("");
  }
  void CreateForm() { form = std::make_unique<TForm1>(); }
  QString Label() const { return form->LabelConnection->text(); }
  QColor LabelColour() const { return form->LabelConnection->palette().color(QPalette::WindowText); }

  TTempDir dir;
  std::vector<TShownBox> boxes;
  std::unique_ptr<TForm1> form;
};
}  // namespace

TEST_F(MainWindowSerialTest, ConnectOpensThePortAndDisconnectClosesIt) {
  TPtyLink pty(dir.File("ports/"), "COM1");
  CreateForm();
  form->btnOpenPortClick();
  EXPECT_TRUE(form->ComPort1.Connected());
  EXPECT_EQ(form->PortState, 2);
  EXPECT_EQ(form->btnOpenPort->text(), "Disconnect");
  EXPECT_EQ(Label(), "COM1 9600bps connected");
  EXPECT_EQ(LabelColour(), QColor(0, 128, 0));
  form->SendOrder("SbP");
  EXPECT_EQ(pty.Receive(5), "SbP\r\n");

  form->btnOpenPortClick();
  EXPECT_FALSE(form->ComPort1.Connected());
  EXPECT_EQ(form->PortState, 0);
  EXPECT_EQ(form->btnOpenPort->text(), "Connect");
  EXPECT_EQ(Label(), "COM1 9600bps disconnected");
  EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowSerialTest, AFailedOpenShowsTheBoxAndStaysDisconnected) {
  ASSERT_EQ(symlink("/nonexistent/tty", dir.File("ports/COM1").c_str()), 0);
  CreateForm();
  form->btnOpenPortClick();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Text, "Selected COM port does not exist or is occupied by other software");
  EXPECT_EQ(boxes[0].Title, "VU232v9");
  EXPECT_EQ(boxes[0].Icon, TMessageIcon::Exclamation);
  EXPECT_EQ(form->PortState, 0);
  EXPECT_EQ(Label(), "COM1 9600bps disconnected");
  EXPECT_EQ(LabelColour(), QColor(255, 0, 0));
  EXPECT_EQ(form->PortDiagnosis->text().toStdString(), "/nonexistent/tty does not exist.")
      << "the cause goes to the status line";
}

TEST_F(MainWindowSerialTest, APortHeldElsewhereShowsTheSameBox) {
  TPtyLink pty(dir.File("ports/"), "COM1");
  TComPort other;
  other.OpenPort();
  CreateForm();
  form->btnOpenPortClick();
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(form->ComPort1.Connected());
}

TEST_F(MainWindowSerialTest, SettingsAreRestoredAtCreationAndSavedAtClose) {
  TPtyLink pty(dir.File("ports/"), "COM3");
  dir.Write("RuzOzodArir.ini", "[Other]\nx=1\n[ComPort1]\nport=COM3\nBaudRate=19200\n");
  CreateForm();
  EXPECT_EQ(form->ComPort1.Port(), "COM3");
  EXPECT_EQ(form->ComPort1.BaudRate(), br19200);
  form->btnOpenPortClick();
  EXPECT_EQ(Label(), "COM3 19200bps connected");
  form->ComPort1.SetBaudRate(br14400);
  form->FormClose();
  EXPECT_FALSE(form->ComPort1.Connected());
  EXPECT_EQ(dir.Read("RuzOzodArir.ini"),
            "[Other]\nx=1\n[ComPort1]\nport=COM3\nBaudRate=14400\nStopBits=1\nDataBits=8\nParity=None\n"
            "FlowControl=None\n");
}

TEST_F(MainWindowSerialTest, ASettingsFileThatCannotBeWrittenIsSavedInTheUsersFolderAndSaid) {
  TTempDir configHome;
  const std::string savedConfigHome = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", configHome.Path().c_str(), 1);
  mkdir(dir.File("RuzOzodArir.ini").c_str(), 0755);
  CreateForm();
  form->ComPort1.SetBaudRate(br19200);
  EXPECT_NO_THROW(form->FormClose());
  const std::string saved = configHome.File("scaledb/RuzOzodArir.ini");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].Text.contains(QString::fromStdString(dir.File("RuzOzodArir.ini")))) << boxes[0].Text.toStdString();
  EXPECT_TRUE(boxes[0].Text.contains(QString::fromStdString(saved) + " instead")) << boxes[0].Text.toStdString();
  form.reset();
  CreateForm();
  EXPECT_EQ(form->ComPort1.BaudRate(), br19200) << "read from the user's folder the next time";
  form.reset();
  setenv("XDG_CONFIG_HOME", savedConfigHome.c_str(), 1);
}

// A program folder that is gone takes no file, even for root: both settings files go to the
// user's folder, one box names them, and the next start reads them from there.
TEST_F(MainWindowSerialTest, BothSettingsFilesGoToTheUsersFolderWhenTheProgramFolderTakesNone) {
  TTempDir configHome;
  const std::string savedConfigHome = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", configHome.Path().c_str(), 1);
  SetExecutableDirectory(dir.File("gone"));
  TransferSettings = TTransferSettings{};
  CreateForm();
  TransferSettings.AnswerTimeout = 7;
  form->ComPort1.SetBaudRate(br19200);
  EXPECT_NO_THROW(form->FormClose());
  ASSERT_EQ(boxes.size(), 1u);
  for (const char* name : {"config.xml", "RuzOzodArir.ini"}) {
    EXPECT_TRUE(boxes[0].Text.contains(QString::fromStdString(dir.File(std::string("gone/") + name))))
        << boxes[0].Text.toStdString();
    EXPECT_TRUE(boxes[0].Text.contains(QString::fromStdString(configHome.File(std::string("scaledb/") + name)) + " instead"))
        << boxes[0].Text.toStdString();
  }
  form.reset();
  TransferSettings = TTransferSettings{};
  CreateForm();
  EXPECT_EQ(TransferSettings.AnswerTimeout, 7) << "config.xml is read from the user's folder the next time";
  EXPECT_EQ(form->ComPort1.BaudRate(), br19200);
  form.reset();
  TransferSettings = TTransferSettings{};
  setenv("XDG_CONFIG_HOME", savedConfigHome.c_str(), 1);
}
