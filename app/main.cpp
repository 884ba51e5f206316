#include "ConnectionUnit.h"
#include "ErrorHandler.h"
#include "SessionSystem.h"
#include "StopSignals.h"
#include "Translation.h"
#include "okno.h"

#include <QGuiApplication>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace {
// A database file named on the command line (the desktop entry passes the file the user opened)
// is opened as "File" -> "Open" would open it.
void OpenCommandLineFile(TForm1& form, int argc, char** argv) {
  if (argc < 2) return;
  const QString path = QString::fromLocal8Bit(argv[1]);
  std::function<QString()> chooser = std::move(form.OpenDialog1);
  form.OpenDialog1 = [path] { return path; };
  Guarded([&form] { form.Otwrz1Click(); });
  form.OpenDialog1 = std::move(chooser);
}

// A broken catalogue leaves its texts as written; the operator hears of it once, over the window.
void ReportBrokenCatalogues() {
  const std::vector<std::string> failures = TakeCatalogueFailures();
  if (failures.empty()) return;
  std::string message;
  for (const std::string& failure : failures) message += (message.empty() ? "" : "\n") + failure;
  ShowUnexpectedError(QString::fromLocal8Bit(message.c_str()));
}
}  // namespace

int main(int argc, char** argv) {
  // The Scales board holds a descriptor for every scale it sends to.
  RaiseOpenFilesLimit();
  StartTranslation();
  TApplication application(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral(SCALEDB_DESKTOP_ID));
  ComPortDefaultErrorDisplay = [](const std::exception& error) {
    ShowUnexpectedError(QString::fromLocal8Bit(error.what()));
  };
  TForm1 Form1;
  TConnectionForm ConnectionForm(Form1.ComPort1, [&Form1] { Form1.btnOpenPortClick(); }, &Form1);
  Form1.SetConnectionForm(&ConnectionForm);
  // SIGTERM and SIGINT close the main window the polite way, so its settings are stored.
  const TStopSignals stopSignals([&Form1] { Form1.close(); });
  Form1.show();
  // From the event loop, so that SIGTERM also ends a box these show.
  QTimer::singleShot(0, &Form1, [] { ReportBrokenCatalogues(); });
  QTimer::singleShot(0, &Form1, [&Form1, argc, argv] { OpenCommandLineFile(Form1, argc, argv); });
  return application.exec();
}
