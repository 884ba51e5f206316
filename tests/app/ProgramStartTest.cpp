// The program itself, started as a user starts it: a copy of it with its own locale/ beside it.

#include "TempDir.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace {
constexpr int kWaitMs = 20000;

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// A copy of the program in a folder of its own, started offscreen in language xx.
class ProgramStart : public ::testing::Test {
 protected:
  ProgramStart() { std::filesystem::copy_file(SCALEDB_PROGRAM_PATH, dir.File("scaledb")); }

  void Start(const QStringList& arguments = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LANG", "xx_XX.UTF-8");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_STATE_HOME", QString::fromStdString(dir.File("state")));
    program.setProcessEnvironment(environment);
    program.setReadChannel(QProcess::StandardError);
    program.start(QString::fromStdString(dir.File("scaledb")), arguments);
    ASSERT_TRUE(program.waitForStarted(kWaitMs));
  }

  // Standard error until it holds `part`, or the wait ran out.
  void ReadErrorsUntil(const std::string& part) {
    while (errors.find(part) == std::string::npos && program.waitForReadyRead(kWaitMs))
      errors += program.readAllStandardError().toStdString();
  }

  // SIGTERM closes the window, whatever box it shows, and the program ends normally.
  void ExpectSigtermClosesIt() {
    ASSERT_EQ(program.state(), QProcess::Running) << errors;
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(kWaitMs)) << "the window did not close on SIGTERM";
    errors += program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << errors;
    EXPECT_EQ(program.exitCode(), 0) << errors;
  }

  TTempDir dir;
  QProcess program;
  std::string errors;
};
}  // namespace

TEST_F(ProgramStart, BrokenCataloguesAreReportedOnceAndTheProgramRunsOn) {
  std::string header("\xDE\x12\x04\x95\x00\x00\x00\x00\xFF\xFF\xFF\x7F\xFF\xFF\xFF\x7F\xFF\xFF\xFF\x7F", 20);
  header += std::string(16, '\0');
  std::filesystem::create_directories(dir.File("locale/xx/LC_MESSAGES"));
  dir.Write("locale/xx/LC_MESSAGES/default.mo", header);
  dir.Write("locale/xx/LC_MESSAGES/cport.mo", header);
  const std::string notACatalogue = "This file is not a valid GNU gettext mo file: " + dir.File("locale/xx/LC_MESSAGES/");

  Start();
  ReadErrorsUntil(notACatalogue + "cport.mo");
  ExpectSigtermClosesIt();
  EXPECT_EQ(Occurrences(errors, "terminate called"), 0u) << errors;
  EXPECT_EQ(Occurrences(errors, notACatalogue + "default.mo"), 1u) << errors;
  EXPECT_EQ(Occurrences(errors, notACatalogue + "cport.mo"), 1u) << errors;
}

TEST_F(ProgramStart, AFifoToOpenIsRefusedInWordsAndSigtermStillClosesTheWindow) {
  ASSERT_EQ(::mkfifo(dir.File("prices.csv").c_str(), 0600), 0);
  const std::string refusal = "Cannot open file \"" + dir.File("prices.csv") + "\": not a regular file";
  Start({QString::fromStdString(dir.File("prices.csv"))});
  ReadErrorsUntil(refusal);
  ExpectSigtermClosesIt();
  EXPECT_EQ(Occurrences(errors, refusal), 1u) << errors;
}
