#include "ErrorHandler.h"
#include "MessageBox.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

// Tests run inside the program's own application object, so an exception escaping an event
// handler reaches the same handler of unexpected errors. Modal boxes would block a test: by
// default both fail the running test instead of opening. The transfer history and any settings
// saved per user go to folders of the test run, never into the user's home; so do the locks.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const QTemporaryDir stateHome;
  if (!stateHome.isValid()) return 1;
  qputenv("XDG_STATE_HOME", stateHome.path().toLocal8Bit());
  const QTemporaryDir configHome;
  if (!configHome.isValid()) return 1;
  qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
  qunsetenv("SCALEDB_STATE_DIR");
  // The scales' locks of the test run stay among themselves, away from a real sender's.
  const QTemporaryDir locks;
  if (!locks.isValid()) return 1;
  qputenv("SCALEDB_LOCK_DIR", locks.path().toLocal8Bit());
  TApplication application(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  UnexpectedErrorHook = [](const QString& report) { ADD_FAILURE() << "unexpected error: " << report.toStdString(); };
  MessageBoxHook = [](const QString& text, const QString& title, TMessageIcon) {
    ADD_FAILURE() << "unexpected message box: " << title.toStdString() << ": " << text.toStdString();
  };
  return RUN_ALL_TESTS();
}
