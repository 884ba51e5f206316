#include "ConnectionUnit.h"
#include "ErrorHandler.h"
#include "Translation.h"
#include "okno.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT close the main window the polite way, so its settings are stored.
void CloseOnTerminationSignals(TForm1& form) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &form);
  QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
    char byte;
    [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
    form.close();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

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
  CloseOnTerminationSignals(Form1);
  Form1.show();
  OpenCommandLineFile(Form1, argc, argv);
  return application.exec();
}
