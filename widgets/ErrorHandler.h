#pragma once
// The handler of unexpected errors: an exception that escapes an event handler is shown to the
// operator, with a report that can be copied and that also goes to standard error, and the
// program keeps running.

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// The report: the error text, the active window and the time.
QString BuildErrorReport(const QString& message);
void ShowUnexpectedError(const QString& message);

// Runs a handler; what escapes it goes to the handler of unexpected errors.
template <typename Handler>
void Guarded(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowUnexpectedError(QString::fromLocal8Bit(error.what()));
  }
}

// Replaces the error dialog, so tests can see the report.
extern std::function<void(const QString& report)> UnexpectedErrorHook;
