#include "ErrorHandler.h"

#include <QClipboard>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <exception>

std::function<void(const QString&)> UnexpectedErrorHook;

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowUnexpectedError(QString::fromLocal8Bit(error.what()));
  } catch (...) {
    ShowUnexpectedError(QStringLiteral("Unknown error"));
  }
  return false;
}

QString BuildErrorReport(const QString& message) {
  const QWidget* active = QApplication::activeWindow();
  return QStringLiteral("Error: %1\nActive window: %2\nTime: %3\n")
      .arg(message, active ? active->windowTitle() : QStringLiteral("(none)"),
           QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
}

namespace {
void ShowErrorDialog(const QString& message, const QString& report) {
  QDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(QStringLiteral("Error"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* text = new QLabel(message, &dialog);
  text->setWordWrap(true);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
  QPushButton* copy = buttons->addButton(QStringLiteral("Copy report"), QDialogButtonBox::ActionRole);
  QObject::connect(copy, &QPushButton::clicked, &dialog,
                   [report] { QGuiApplication::clipboard()->setText(report); });
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  layout->addWidget(buttons);
  dialog.exec();
}
}  // namespace

void ShowUnexpectedError(const QString& message) {
  const QString report = BuildErrorReport(message);
  // Standard error is the log: the report outlives the box, e.g. in the desktop session's journal.
  std::fputs(report.toLocal8Bit().constData(), stderr);
  std::fflush(stderr);
  if (UnexpectedErrorHook) {
    UnexpectedErrorHook(report);
    return;
  }
  ShowErrorDialog(message, report);
}
