#pragma once
// The handler of unexpected errors: an exception that escapes an event handler is shown to the
// operator, with a report that can be copied, and the program keeps running.

#include <QApplication>
#include <QString>

#include <functional>

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// The report: the error text, the active window and the time.
QString BuildErrorReport(const QString& message);
void ShowUnexpectedError(const QString& message);

// Replaces the error dialog, so tests can see the report.
extern std::function<void(const QString& report)> UnexpectedErrorHook;
