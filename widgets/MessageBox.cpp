#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>

std::function<void(const QString&, const QString&, TMessageIcon)> MessageBoxHook;
std::function<bool(const QString&, const QString&)> QuestionBoxHook;

void ShowMessageBox(const QString& text, const QString& title, TMessageIcon icon) {
  if (MessageBoxHook) {
    MessageBoxHook(text, title, icon);
    return;
  }
  QMessageBox box(icon == TMessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning, title,
                  text, QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

bool AskYesNo(const QString& text, const QString& title) {
  if (QuestionBoxHook) return QuestionBoxHook(text, title);
  return QMessageBox::question(QApplication::activeWindow(), title, text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}
