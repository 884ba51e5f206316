#include "ErrorHandler.h"
#include "Global.h"
#include "InstalledLayout.h"
#include "MessageBox.h"
#include "RadioGroup.h"
#include "TempDir.h"
#include "okno.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>

#include <gtest/gtest.h>

namespace {
class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    SetExecutableDirectory(dir.Path());
    ConnectionSettings = TConnectionSettings{};
    form = std::make_unique<TForm1>();
  }
  ~MainWindowTest() override {
    form.reset();
    SetExecutableDirectory("");
  }

  QColor LabelColour() const { return form->LabelConnection->palette().color(QPalette::WindowText); }
  QString Label() const { return form->LabelConnection->text(); }
  void Deliver(LinkState state) {
    PostPortState(form.get(), state);
    QCoreApplication::sendPostedEvents(form.get());
  }

  TTempDir dir;
  std::unique_ptr<TForm1> form;
};

const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);
}  // namespace

TEST_F(MainWindowTest, StartsWithTheControlsAndCaptionsOfTheWindow) {
  EXPECT_EQ(form->windowTitle(), " Scale database v1.02");
  EXPECT_EQ(form->btnOpenPort->text(), "Connect");
  EXPECT_EQ(form->bbWyslijBaze->text(), "Send database");
  EXPECT_EQ(form->SendButtonTag(), 0);
  EXPECT_EQ(form->rgUrzadzenie->title(), " Device type: ");
  EXPECT_EQ(form->rgUrzadzenie->Items(), QStringList({"standard scale", "scale with KX-17"}));
  EXPECT_EQ(form->rgUrzadzenie->ItemIndex(), 0);
  EXPECT_EQ(form->rgBaza->title(), " Database kind: ");
  EXPECT_EQ(form->rgBaza->Items(), QStringList({"product database", "user database"}));
  EXPECT_EQ(form->rgBaza->ItemIndex(), 0);
  EXPECT_EQ(Label(), "LabelConnection");
  EXPECT_TRUE(form->LabelConnection->font().bold());
  EXPECT_EQ(form->Otwrz1->text(), "Open");
  EXPECT_EQ(form->Otwrz1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  EXPECT_EQ(form->Rs2321->text(), "Connection");
  EXPECT_EQ(form->Rs2321->menu(), nullptr);
  EXPECT_FALSE(form->TimerBaza.isActive());
  EXPECT_EQ(form->TimerBaza.interval(), 100);
  EXPECT_EQ(form->StringGrid1->model()->rowCount(), 5);
  EXPECT_EQ(form->StringGrid1->model()->columnCount(), 5);
  EXPECT_EQ(form->PortState, 0);
  EXPECT_EQ(MainWindowHandle, form.get());
}

TEST_F(MainWindowTest, TheBottomPanelIsEightyOnePixelsHigh) {
  const QWidget* panel = form->findChild<QWidget*>("Panel1");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->height(), 81);
  EXPECT_EQ(form->btnOpenPort->geometry(), QRect(11, 12, 78, 25));
  EXPECT_EQ(form->bbWyslijBaze->geometry(), QRect(96, 12, 89, 25));
  EXPECT_EQ(form->rgBaza->geometry(), QRect(328, 0, 185, 81));
}

TEST_F(MainWindowTest, DeviceTypeRebuildsTheDatabaseKinds) {
  form->rgUrzadzenie->SetItemIndex(1);
  EXPECT_EQ(form->rgBaza->Items(), QStringList({"label database", "user database", "status database"}));
  EXPECT_EQ(form->rgBaza->ItemIndex(), 0);
  form->rgBaza->SetItemIndex(2);
  form->rgUrzadzenie->SetItemIndex(0);
  EXPECT_EQ(form->rgBaza->Items(), QStringList({"product database", "user database"}));
  EXPECT_EQ(form->rgBaza->ItemIndex(), 0);
}

TEST_F(MainWindowTest, EveryActivationMaximisesAndShowsTheConnectionState) {
  form->show();
  form->showNormal();
  form->FormActivate();
  EXPECT_TRUE(form->isMaximized());
  EXPECT_EQ(Label(), "COM1 9600bps disconnected");
  form->showNormal();
  form->FormActivate();
  EXPECT_TRUE(form->isMaximized());
}

TEST_F(MainWindowTest, SerialLabelNamesPortAndRate) {
  form->ShowConnectionState();
  EXPECT_EQ(Label(), "COM1 9600bps disconnected");
  EXPECT_EQ(LabelColour(), kRed);
  EXPECT_EQ(form->btnOpenPort->text(), "Connect");
}

TEST_F(MainWindowTest, SerialLabelShowsUserDefinedForUnlistedRates) {
  form->ComPort1.SetBaudRate(br14400);
  form->ShowConnectionState();
  EXPECT_EQ(Label(), "COM1 user definedbps disconnected");
}

TEST(BaudDisplay, NamesSixRatesAndCallsTheRestUserDefined) {
  EXPECT_EQ(BaudDisplayText(br4800), "4800");
  EXPECT_EQ(BaudDisplayText(br9600), "9600");
  EXPECT_EQ(BaudDisplayText(br19200), "19200");
  EXPECT_EQ(BaudDisplayText(br38400), "38400");
  EXPECT_EQ(BaudDisplayText(br57600), "57600");
  EXPECT_EQ(BaudDisplayText(br115200), "115200");
  for (TBaudRate rate : {brCustom, br110, br2400, br14400, br56000, br128000, br256000})
    EXPECT_EQ(BaudDisplayText(rate), "user defined");
}

TEST_F(MainWindowTest, EthernetLabelFollowsThePostedStates) {
  ConnectionSettings.Kind = 1;
  ConnectionSettings.Host = "127.0.0.1";
  Deliver(lsDisconnected);
  EXPECT_EQ(Label(), "127.0.0.1 disconnected");
  EXPECT_EQ(LabelColour(), kRed);
  EXPECT_EQ(form->btnOpenPort->text(), "Connect");

  Deliver(lsConnected);
  EXPECT_EQ(form->PortState, 2);
  EXPECT_EQ(Label(), "127.0.0.1 connected");
  EXPECT_EQ(LabelColour(), kGreen);
  EXPECT_EQ(form->btnOpenPort->text(), "Disconnect");

  Deliver(lsClosing);
  EXPECT_EQ(form->PortState, 255);
  EXPECT_EQ(Label(), "127.0.0.1");
  EXPECT_EQ(LabelColour(), kGreen);
  EXPECT_EQ(form->btnOpenPort->text(), "Disconnect");

  Deliver(lsDisconnected);
  Deliver(lsConnecting);
  EXPECT_EQ(Label(), "127.0.0.1");
  EXPECT_EQ(LabelColour(), kRed);
  EXPECT_EQ(form->btnOpenPort->text(), "Connect");
}

TEST_F(MainWindowTest, AnUnknownKindLeavesTheLabelAlone) {
  ConnectionSettings.Kind = 7;
  form->ShowConnectionState();
  EXPECT_EQ(Label(), "LabelConnection");
}

TEST_F(MainWindowTest, PostedStateIsHandledOnlyAfterThePostingHandlerReturns) {
  ConnectionSettings.Kind = 1;
  ConnectionSettings.Host = "127.0.0.1";
  uint8_t seenInsideHandler = 99;
  QObject poster;
  QMetaObject::invokeMethod(&poster, [&] {
    PostPortState(form.get(), lsConnected);
    seenInsideHandler = form->PortState;
  }, Qt::QueuedConnection);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(seenInsideHandler, 0);
  EXPECT_EQ(form->PortState, 2);
}

TEST_F(MainWindowTest, ClosingTheWindowRunsTheOrderlyShutdownOnce) {
  OptionSettings.OrdersFileName.clear();
  form->show();
  form->close();
  form->close();
  EXPECT_EQ(form->Connection, nullptr);
  EXPECT_EQ(Label(), "COM1 9600bps disconnected");
}

TEST(MainWindowInstalled, KeepsBothSettingsFilesInTheUsersFolder) {
  const TInstalledLayout layout;
  ConnectionSettings = TConnectionSettings{};
  {
    TForm1 form;
    form.ComPort1.SetPort("COM7");
    form.FormClose();
  }
  EXPECT_NE(layout.Root.Read("home/.config/scaledb/RuzOzodArir.ini").find("Port=COM7"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_regular_file(layout.UserDirectory() + "config.xml"));
  EXPECT_TRUE(std::filesystem::is_empty(layout.BinDirectory()));
  const TForm1 again;
  EXPECT_EQ(again.ComPort1.Port(), "COM7");
}

TEST_F(MainWindowTest, OpeningAFileFillsTheTableAndCancelKeepsIt) {
  dir.Write("db.csv", "a;b\nc;d;e\n");
  form->OpenDialog1 = [this] { return QString::fromStdString(dir.File("db.csv")); };
  form->Otwrz1Click();
  EXPECT_EQ(form->RowCount(), 2);
  EXPECT_EQ(form->StringGrid1->model()->columnCount(), 3);
  EXPECT_EQ(form->StringGrid1->model()->index(1, 2).data().toString(), "e");
  form->OpenDialog1 = [] { return QString(); };
  form->Otwrz1Click();
  EXPECT_EQ(form->RowCount(), 2);
}

TEST_F(MainWindowTest, ASecondSmallerFileLeavesNothingOfTheFirst) {
  dir.Write("big.csv", "1;2;3\n4;5;6\n7;8;9\n");
  dir.Write("small.csv", "x\n");
  form->OpenDialog1 = [this] { return QString::fromStdString(dir.File("big.csv")); };
  form->Otwrz1Click();
  form->OpenDialog1 = [this] { return QString::fromStdString(dir.File("small.csv")); };
  form->Otwrz1Click();
  EXPECT_EQ(form->RowCount(), 1);
  EXPECT_EQ(form->StringGrid1->model()->columnCount(), 1);
  EXPECT_EQ(form->RowText(0), "x");
}

TEST_F(MainWindowTest, AFileThatCannotBeOpenedGoesToTheErrorHandlerAndKeepsTheTable) {
  dir.Write("db.csv", "a;b\n");
  form->OpenDialog1 = [this] { return QString::fromStdString(dir.File("db.csv")); };
  form->Otwrz1Click();
  form->OpenDialog1 = [this] { return QString::fromStdString(dir.File("missing.csv")); };
  QString report;
  UnexpectedErrorHook = [&](const QString& text) { report = text; };
  form->Otwrz1->trigger();
  UnexpectedErrorHook = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
  EXPECT_TRUE(report.contains("missing.csv"));
  EXPECT_EQ(form->RowText(0), "a;b");
}

TEST_F(MainWindowTest, TheTableIsReadOnly) {
  const QModelIndex cell = form->StringGrid1->model()->index(0, 0);
  EXPECT_FALSE(form->StringGrid1->model()->flags(cell) & Qt::ItemIsEditable);
  EXPECT_EQ(form->StringGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
}

namespace {
class TThrowingObject : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::User) throw std::runtime_error("boom in a handler");
    return QObject::event(event);
  }
};
}  // namespace

TEST(UnexpectedErrors, AnEscapedExceptionIsShownAndTheProgramGoesOn) {
  QString report;
  UnexpectedErrorHook = [&](const QString& text) { report = text; };
  TThrowingObject object;
  QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&object);
  UnexpectedErrorHook = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
  EXPECT_TRUE(report.contains("boom in a handler"));
  EXPECT_TRUE(report.contains("Time:"));
  EXPECT_TRUE(report.contains("Active window:"));
}
