#include "ConnectionUnit.h"
#include "ErrorHandler.h"
#include "StopSignals.h"
#include "Translation.h"
#include "okno.h"

#include <QGuiApplication>

#include <functional>

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
}  // namespace

int main(int argc, char** argv) {
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
  OpenCommandLineFile(Form1, argc, argv);
  return application.exec();
}
